#include "update/body_requests_win32.h"

#include "update/download_plan.h"

BodyRequests::BodyRequests(FileHosts& hosts, std::vector<uint64_t> body_sizes, size_t in_flight,
                           uint64_t bytes_ahead, RequestPath request_path)
    : hosts_(hosts),
      host_(hosts.current_index()),
      body_sizes_(std::move(body_sizes)),
      in_flight_(in_flight),
      bytes_ahead_(bytes_ahead),
      request_path_(std::move(request_path)) {}

bool BodyRequests::Receive(size_t item, const DataCallback& callback) {
  // A host passed over gets no more reads: what went out to it goes out again.
  if (host_ != hosts_.current_index()) {
    ahead_.clear();
    next_ = item;
    host_ = hosts_.current_index();
  }
  // Requests for items the caller has moved past are of no use any more.
  while (!ahead_.empty() && ahead_.front().first < item) ahead_.pop_front();
  SentGet current = [&] {
    if (!ahead_.empty() && ahead_.front().first == item) {
      SentGet sent = std::move(ahead_.front().second);
      ahead_.pop_front();
      return sent;
    }
    return Send(item);  // the first item, or an attempt after a failed one
  }();
  if (next_ <= item) next_ = item + 1;
  const size_t end = RequestWindowEnd(body_sizes_, item, in_flight_, bytes_ahead_);
  for (; next_ < end; ++next_) ahead_.emplace_back(next_, Send(next_));
  return current.Receive(callback);
}

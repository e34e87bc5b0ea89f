#include "update/body_requests_win32.h"

#include "update/download_plan.h"

BodyRequests::BodyRequests(FileHosts& hosts, std::vector<uint64_t> body_sizes, size_t in_flight,
                           uint64_t bytes_ahead, RequestPath request_path, const std::atomic<bool>* cancel)
    : hosts_(hosts),
      host_(hosts.current_index()),
      body_sizes_(std::move(body_sizes)),
      in_flight_(in_flight),
      bytes_ahead_(bytes_ahead),
      request_path_(std::move(request_path)),
      cancel_(cancel) {}

bool BodyRequests::Receive(size_t item, uint64_t from, const BodyStart& start, const DataCallback& callback) {
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
      if (sent.from() == from) return sent;
    }
    // The first item, an attempt after a failed one, or one resumed part-way.
    return Send(item, from);
  }();
  if (next_ <= item) next_ = item + 1;
  const size_t end = RequestWindowEnd(body_sizes_, item, in_flight_, bytes_ahead_);
  for (; next_ < end; ++next_) ahead_.emplace_back(next_, Send(next_));
  return current.Receive(callback, start, cancel_);
}

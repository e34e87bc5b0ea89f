// The body requests of one download list: read strictly in list order, while the
// requests of the next few items are already out, so their bodies travel during
// the round trip the sequential order would wait for. Runs on the worker thread
// only; dropping it ends every request still under way.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "app/text.h"
#include "update/file_hosts_win32.h"
#include "update/http_win32.h"

class BodyRequests {
 public:
  // What to ask the file host for item i of the list.
  using RequestPath = std::function<WideString(size_t item)>;

  // body_sizes: each item's download size, for the bytes-ahead budget of
  // RequestWindowEnd. in_flight 1 is the sequential order. Requests go to the
  // hosts' current one. cancel, when set, ends the wait of the request being
  // read at once.
  BodyRequests(FileHosts& hosts, std::vector<uint64_t> body_sizes, size_t in_flight, uint64_t bytes_ahead,
               RequestPath request_path, const std::atomic<bool>* cancel);
  BodyRequests(const BodyRequests&) = delete;
  BodyRequests& operator=(const BodyRequests&) = delete;

  // Streams item's body from byte from on to callback, as SentGet::Receive
  // does. Its request is the one already out, or a fresh one when that was
  // used by an earlier attempt, asked for another start or went to a host
  // passed over since; the requests of the items after it go out before its
  // response is awaited.
  bool Receive(size_t item, uint64_t from, const BodyStart& start, const DataCallback& callback);

 private:
  SentGet Send(size_t item, uint64_t from = 0) { return SentGet(hosts_.current(), request_path_(item), from); }

  FileHosts& hosts_;
  size_t host_ = 0;  // the host the requests ahead went to
  const std::vector<uint64_t> body_sizes_;
  const size_t in_flight_;
  const uint64_t bytes_ahead_;
  const RequestPath request_path_;
  const std::atomic<bool>* const cancel_;
  std::deque<std::pair<size_t, SentGet>> ahead_;  // sent, not yet read, in list order
  size_t next_ = 0;                               // the first item never requested
};

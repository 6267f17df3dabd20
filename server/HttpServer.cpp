#include "server/HttpServer.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <deque>
#include <functional>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vantle_server {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// How long a connection we are closing may take to read our last reply
// before its socket goes. Closing at once would reset a connection whose
// request we did not read, and the client could lose the reply.
constexpr std::chrono::seconds kLinger{2};
// At most this many connections linger at once; beyond it (a flood of
// refused connections, say) they are closed at once, so that lingering
// cannot use up the descriptors that clients being served need.
constexpr std::size_t kMaxLingering = 1024;
// Pause after the system refused to accept (no descriptors left), so that
// the accept loop does not spin.
constexpr std::chrono::milliseconds kAcceptBackoff{50};
// A reply body at most this large leaves its room to the connection's next.
constexpr std::size_t kKeptReplyBytes = 16 * 1024;

// A request body kept up to the service's limit; what comes beyond it is
// counted and dropped, so that an oversized request is read to its end and
// answered 413 on a connection that is still in step.
struct CappedBody {
  struct value_type {
    std::string bytes;
    std::uint64_t received = 0;
    bool overflow = false;
  };

  class reader {
   public:
    template <bool isRequest, class Fields>
    reader(http::header<isRequest, Fields>&, value_type& body) : body_(body) {}

    void init(const boost::optional<std::uint64_t>& length, beast::error_code& ec) {
      ec = {};
      if (length && *length <= UpdateService::kMaxBodyBytes) body_.bytes.reserve(std::size_t(*length));
    }

    template <class ConstBufferSequence>
    std::size_t put(const ConstBufferSequence& buffers, beast::error_code& ec) {
      ec = {};
      std::size_t taken = 0;
      for (auto it = asio::buffer_sequence_begin(buffers); it != asio::buffer_sequence_end(buffers); ++it) {
        const asio::const_buffer piece = *it;
        Append(static_cast<const char*>(piece.data()), piece.size());
        taken += piece.size();
      }
      return taken;
    }

    void finish(beast::error_code& ec) { ec = {}; }

   private:
    void Append(const char* data, std::size_t n) {
      body_.received += n;
      if (body_.overflow) return;
      if (body_.bytes.size() + n > UpdateService::kMaxBodyBytes) {
        body_.overflow = true;
        return;
      }
      body_.bytes.append(data, n);
    }
    value_type& body_;
  };
};

using Parser = http::request_parser<CappedBody>;
using StreamResponse = http::response<http::buffer_body>;
// Each connection belongs to one event loop run by one thread: its socket
// and timer are bound to that loop's own executor, not a wrapper around any.
using Loop = asio::io_context;
using Socket = asio::basic_stream_socket<tcp, Loop::executor_type>;
using Timer = asio::basic_waitable_timer<std::chrono::steady_clock, asio::wait_traits<std::chrono::steady_clock>,
                                         Loop::executor_type>;

unsigned ZipWorkers(unsigned asked) {
  if (asked) return asked;
  return std::max(1u, std::thread::hardware_concurrency() / 2);
}

unsigned IoThreads(unsigned asked) {
  if (asked) return asked;
  return std::max(1u, std::thread::hardware_concurrency());
}

// Zip work yields to everything else the machine does, hash queries first.
void LowerThisThread() {
  thread_local bool lowered = false;
  if (lowered) return;
  lowered = true;
  ::setpriority(PRIO_PROCESS, id_t(::gettid()), 10);
}


// IPv4 clients of a dual-stack listener are shown as the IPv4 address they
// are.
asio::ip::address Unmapped(asio::ip::address address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  return address;
}

bool IsHttpError(const beast::error_code& ec) {
  return ec.category() == http::make_error_code(http::error::bad_method).category();
}

// Runs zip work a piece at a time on a pool, taking turns between client
// addresses: one address with many connections gets no more of the lane than
// another with one.
class FairLane {
 public:
  explicit FairLane(asio::thread_pool& pool) : pool_(pool) {}

  void Post(const std::string& key, std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::deque<std::function<void()>>& queue = queues_[key];
      if (queue.empty()) turns_.push_back(key);
      queue.push_back(std::move(task));
    }
    asio::post(pool_, [this] { RunOne(); });
  }

 private:
  void RunOne() {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (turns_.empty()) return;
      const std::string key = std::move(turns_.front());
      turns_.pop_front();
      auto queue = queues_.find(key);
      task = std::move(queue->second.front());
      queue->second.pop_front();
      if (queue->second.empty())
        queues_.erase(queue);
      else
        turns_.push_back(key);
    }
    task();
  }

  asio::thread_pool& pool_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::deque<std::function<void()>>> queues_;
  std::deque<std::string> turns_;  // addresses with work, in the order they get their next turn
};

class Connection;

// Everything the connections share: options, the request handler and the
// log, the counts behind the connection limits, the event loop and the pool.
class Core {
 public:
  Core(HttpOptions options, RequestHandler handler, AccessLog& log, QuickHandler quick)
      : options_(std::move(options)),
        handler_(std::move(handler)),
        quick_(std::move(quick)),
        log_(log),
        loops_(MakeLoops(IoThreads(options_.ioThreads))),
        acceptor_(*loops_[0]),
        acceptRetry_(*loops_[0]),
        signals_(*loops_[0]),
        reloadSignal_(*loops_[0]),
        drainTimer_(*loops_[0]),
        pool_(std::max(1u, options_.workers)),
        zipLane_(zipPool_),
        zipPool_(ZipWorkers(options_.zipWorkers)) {}

  bool Listen(std::string& error);
  int Port() const { return port_; }
  void Run();
  void Stop() {
    for (auto& loop : loops_) loop->stop();
  }
  // On the first loop: stops accepting, ends what waits for a request and
  // stops once every connection has ended, or stopTimeout has passed.
  void Drain();
  bool Draining() const { return draining_.load(); }

  // The connections that a drain must reach.
  void Register(const std::shared_ptr<Connection>& connection);
  void Unregister(Connection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    live_.erase(connection);
  }

  const HttpOptions& Options() const { return options_; }
  AccessLog& Log() { return log_; }
  asio::thread_pool& Pool() { return pool_; }
  FairLane& ZipLane() { return zipLane_; }

  ServiceReply Handle(const std::string& method, const std::string& target, const std::string& body) {
    try {
      return handler_(method, target, body);
    } catch (const std::exception& e) {
      return TextReply(500, std::string("the request could not be served: ") + e.what());
    }
  }

  std::optional<ServiceReply> HandleQuick(const std::string& method, const std::string& target,
                                          const std::string& body) {
    if (!quick_) return std::nullopt;
    try {
      return quick_(method, target, body);
    } catch (const std::exception&) {
      return std::nullopt;  // a worker tries it the long way
    }
  }

  // Counts a new connection in, or says no when a limit is reached.
  bool Admit(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (served_ >= maxConnections_) return false;
    std::size_t& mine = perAddress_[address];
    if (options_.perAddressLimit && mine >= options_.perAddressLimit) {
      if (mine == 0) perAddress_.erase(address);
      return false;
    }
    ++mine;
    ++served_;
    return true;
  }
  bool StartLingering() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lingering_ >= kMaxLingering) return false;
    ++lingering_;
    return true;
  }
  void EndLingering() {
    std::lock_guard<std::mutex> lock(mutex_);
    --lingering_;
  }
  void Release(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    --served_;
    auto it = perAddress_.find(address);
    if (it != perAddress_.end() && --it->second == 0) perAddress_.erase(it);
  }

 private:
  static std::vector<std::unique_ptr<Loop>> MakeLoops(unsigned count) {
    std::vector<std::unique_ptr<Loop>> loops;
    // Each loop is run by one thread (others only post to it).
    for (unsigned i = 0; i < count; ++i) loops.push_back(std::make_unique<Loop>(1));
    return loops;
  }
  // The loops take the connections in turn.
  Loop& NextLoop() {
    Loop& loop = *loops_[nextLoop_];
    nextLoop_ = (nextLoop_ + 1) % loops_.size();
    return loop;
  }
  void Accept();
  void AcceptWaiting();
  void OnAccepted(Socket socket);
  void WaitUntilDrained(std::chrono::steady_clock::time_point deadline);
  void WaitForReload();

  HttpOptions options_;
  RequestHandler handler_;
  QuickHandler quick_;
  AccessLog& log_;

  std::mutex mutex_;
  std::unordered_map<std::string, std::size_t> perAddress_;
  std::size_t served_ = 0;
  std::size_t maxConnections_ = 0;
  std::size_t lingering_ = 0;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> live_;
  std::atomic<bool> draining_{false};

  // Destroyed in reverse order: the pool is joined first (its tasks post to
  // the event loops), the event loops last, which destroy the connections
  // still waiting in them; they release their counts above. Each I/O thread
  // runs a loop of its own: the threads share no queue, and a connection
  // stays on the loop (and the thread) that accepted it. The first loop also
  // accepts and watches for the stop signals.
  std::vector<std::unique_ptr<Loop>> loops_;
  std::size_t nextLoop_ = 0;  // touched by the accepting loop only
  tcp::acceptor acceptor_;
  asio::steady_timer acceptRetry_;
  asio::signal_set signals_;
  asio::signal_set reloadSignal_;
  asio::steady_timer drainTimer_;
  asio::thread_pool pool_;
  // The lane's queued work holds connections: it goes after the zip pool is
  // joined and before the event loop.
  FairLane zipLane_;
  asio::thread_pool zipPool_;
  int port_ = 0;
};

// One client connection, driven by the event loop on its own strand: read a
// request under a deadline, hand it to the pool, write the reply under a
// progress deadline, log it, and read the next.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(Core& core, Socket socket, std::string address, std::string limitKey)
      : core_(core),
        socket_(std::move(socket)),
        timer_(socket_.get_executor()),
        address_(std::move(address)),
        limitKey_(std::move(limitKey)) {}
  ~Connection() {
    core_.Unregister(this);
    if (counted_) core_.Release(limitKey_);
    if (lingering_) core_.EndLingering();
  }

  Loop::executor_type Executor() { return socket_.get_executor(); }

  void Serve() {
    counted_ = true;
    core_.Register(shared_from_this());
    ReadRequest();
  }

  // A drain has begun: a connection that waits for a request header (or
  // for the rest of one: a client that sends it slowly is not waited for; a
  // proxy sends it again elsewhere), or lingers after its last reply, ends
  // now; one whose request has been read ends when its reply has gone out.
  void EndWhenIdle() {
    if (lingering_ || awaitingRequest_) Close();
  }

  // Answers 503 without reading a request and closes.
  void Refuse() {
    ServiceReply reply = TextReply(503, "too many connections from this address; try again later");
    Reply(std::move(reply), true);
  }

 private:
  void ReadRequest() {
    if (core_.Draining()) return Close();
    awaitingRequest_ = true;
    parser_.emplace();
    parser_->header_limit(std::uint32_t(kMaxHeaderBytes));
    parser_->body_limit(kMaxDrainedBodyBytes);
    method_.clear();
    target_.clear();
    version_ = 11;
    keepAlive_ = false;
    head_ = false;
    logged_ = false;
    Arm(core_.Options().requestTimeout);
    http::async_read_header(socket_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHeader(ec); });
  }

  void OnHeader(beast::error_code ec) {
    awaitingRequest_ = false;
    if (ec) return ReadFailed(ec);
    const auto& request = parser_->get();
    method_.assign(request.method_string().data(), request.method_string().size());
    target_.assign(request.target().data(), request.target().size());
    version_ = request.version();
    head_ = request.method() == http::verb::head;
    if (request.version() >= 11 && beast::iequals(request[http::field::expect], "100-continue")) {
      static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      asio::async_write(socket_, asio::buffer(kContinue, sizeof kContinue - 1),
                        [self = shared_from_this()](beast::error_code ec, std::size_t) {
                          if (ec) return self->ReadFailed(ec);
                          self->ReadBody();
                        });
      return;
    }
    ReadBody();
  }

  void ReadBody() {
    http::async_read(socket_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnBody(ec); });
  }

  void OnBody(beast::error_code ec) {
    if (ec) return ReadFailed(ec);
    Disarm();
    const auto& request = parser_->get();
    keepAlive_ = request.keep_alive();
    if (request.body().overflow) return Reply(UpdateService::BodyTooLarge(), false);
    if (std::optional<ServiceReply> quick = core_.HandleQuick(method_, target_, request.body().bytes))
      return Reply(std::move(*quick), false);
    // The request is not touched by this strand until the reply comes back.
    asio::post(core_.Pool(), [self = shared_from_this()] {
      ServiceReply reply = self->core_.Handle(self->method_, self->target_, self->parser_->get().body().bytes);
      asio::post(self->socket_.get_executor(),
                 [self, reply = std::move(reply)]() mutable { self->Reply(std::move(reply), false); });
    });
  }

  void ReadFailed(const beast::error_code& ec) {
    const bool begun = parser_ && (parser_->got_some() || buffer_.size() > 0);
    if (timedOut_) {
      if (begun) return Reply(TextReply(408, "the request did not arrive in time"), true);
      return Close();
    }
    if (ec == http::error::header_limit)
      return Reply(TextReply(431, "request header over " + std::to_string(kMaxHeaderBytes) + " bytes"), true);
    if (ec == http::error::body_limit) return Reply(UpdateService::BodyTooLarge(), true);
    if (IsHttpError(ec) && ec != http::error::end_of_stream && ec != http::error::partial_message)
      return Reply(TextReply(400, "malformed request: " + ec.message()), true);
    Close();  // the client went away
  }

  // A reply held whole goes out as its header and body in one write (a
  // header made here, into room kept from the last reply: a hash query
  // costs no header fields of its own).
  void Reply(ServiceReply reply, bool close) {
    if (reply.stream) return ReplyStreamed(std::move(reply));
    replyAgain_ = keepAlive_ && !close && !core_.Draining();
    status_ = reply.status;
    replyBody_ = std::move(reply.body);
    MakeReplyHead(reply);
    if (head_) replyBody_.clear();  // the length stays in the header
    replyBytes_ = replyBody_.size();
    sent_ = 0;
    WriteSome();
  }

  void MakeReplyHead(const ServiceReply& reply) {
    std::string& h = replyHead_;
    h.assign(version_ >= 11 ? "HTTP/1.1 " : "HTTP/1.0 ");
    h += std::to_string(reply.status);
    h += ' ';
    const beast::string_view reason = http::obsolete_reason(http::status(reply.status));
    h.append(reason.data(), reason.size());
    h += "\r\n";
    auto field = [&h](const char* name, const std::string& value) {
      h += name;
      h += ": ";
      h += value;
      h += "\r\n";
    };
    if (!reply.contentType.empty()) field("Content-Type", reply.contentType);
    if (!reply.allow.empty()) field("Allow", reply.allow);
    if (reply.status == 503) field("Retry-After", "10");
    // HTTP/1.1 stays open unless told; HTTP/1.0 closes unless told.
    if (version_ >= 11 && !replyAgain_) field("Connection", "close");
    if (version_ < 11 && replyAgain_) field("Connection", "keep-alive");
    field("Content-Length", std::to_string(replyBody_.size()));
    h += "\r\n";
  }

  void WriteSome() {
    Arm(core_.Options().requestTimeout);
    std::array<asio::const_buffer, 2> rest;
    if (sent_ < replyHead_.size()) {
      rest[0] = asio::buffer(replyHead_.data() + sent_, replyHead_.size() - sent_);
      rest[1] = asio::buffer(replyBody_);
    } else {
      const std::size_t bodySent = sent_ - replyHead_.size();
      rest[0] = asio::buffer(replyBody_.data() + bodySent, replyBody_.size() - bodySent);
    }
    socket_.async_write_some(rest, [self = shared_from_this()](beast::error_code ec, std::size_t n) {
      self->OnWritten(ec, n);
    });
  }

  void OnWritten(beast::error_code ec, std::size_t n) {
    sent_ += n;
    if (!ec && sent_ < replyHead_.size() + replyBody_.size()) return WriteSome();
    // A large reply's room is not kept for the next one.
    if (replyBody_.capacity() > kKeptReplyBytes) std::string().swap(replyBody_);
    Finished(ec, replyAgain_);
  }

  void Finished(const beast::error_code& ec, bool again) {
    Disarm();
    WriteLog();
    if (ec) return Close();
    if (again) return ReadRequest();
    Linger();
  }

  // A body made while it is sent: the header first, then one piece at a
  // time, each made on the zip lane and written before the next is made.
  // Chunked when its length is not known ahead (an HTTP/1.0 client reads
  // to the close instead).
  void ReplyStreamed(ServiceReply reply) {
    stream_ = std::move(reply.stream);
    streamResponse_.emplace();
    StreamResponse& res = *streamResponse_;
    res.version(version_);
    res.result(unsigned(reply.status));
    if (!reply.contentType.empty()) res.set(http::field::content_type, reply.contentType);
    const std::optional<std::uint64_t> length = stream_->Length();
    if (length)
      res.content_length(*length);
    else if (version_ >= 11)
      res.chunked(true);
    res.keep_alive(keepAlive_ && (length || version_ >= 11) && !core_.Draining());
    res.body().data = nullptr;
    res.body().more = true;
    status_ = reply.status;
    replyBytes_ = 0;
    streamSerializer_.emplace(res);
    Arm(core_.Options().requestTimeout);
    http::async_write_header(socket_, *streamSerializer_,
                             [self = shared_from_this()](beast::error_code ec, std::size_t) {
                               if (ec) return self->EndStream(ec);
                               self->MakePiece();
                             });
  }

  void MakePiece() {
    Disarm();  // the wait is ours, not the client's
    core_.ZipLane().Post(limitKey_, [self = shared_from_this()] {
      LowerThisThread();
      auto piece = std::make_shared<std::string>();
      std::string error;
      const bool ok = self->stream_->Next(*piece, error);
      asio::post(self->socket_.get_executor(), [self, ok, piece] { self->WritePiece(ok, piece); });
    });
  }

  void WritePiece(bool ok, const std::shared_ptr<std::string>& piece) {
    // A reply that cannot be finished is cut off: the client sees it end
    // early and refuses it.
    if (!ok) return EndStream(asio::error::operation_aborted);
    piece_ = piece;
    SetPiece(piece_->empty() ? nullptr : piece_->data(), piece_->size(), true);
    replyBytes_ += piece_->size();
    WriteStream();
  }

  void SetPiece(void* data, std::size_t size, bool more) {
    http::buffer_body::value_type& body = streamResponse_->body();
    body.data = data;
    body.size = size;
    body.more = more;
  }

  void WriteStream() {
    Arm(core_.Options().requestTimeout);
    http::async_write(socket_, *streamSerializer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec == http::error::need_buffer) ec = {};
      if (ec || self->streamSerializer_->is_done()) return self->EndStream(ec);
      if (!self->stream_->Done()) return self->MakePiece();
      self->SetPiece(nullptr, 0, false);  // the end (the last chunk)
      self->WriteStream();
    });
  }

  void EndStream(const beast::error_code& ec) {
    const bool again = streamResponse_->keep_alive();
    streamSerializer_.reset();
    streamResponse_.reset();
    stream_.reset();
    piece_.reset();
    Finished(ec, again);
  }

  void WriteLog() {
    if (logged_) return;
    logged_ = true;
    LogRecord record;
    record.when = std::time(nullptr);
    record.remoteAddr = address_;
    record.method = method_;
    record.target = target_;
    record.status = status_;
    if (parser_) {
      record.requestBytes = parser_->get().body().received;
      record.body = &parser_->get().body().bytes;
    }
    record.replyBytes = replyBytes_;
    // The line is written once the loop has handled what else is waiting,
    // with the lines of the other replies it sent meanwhile.
    if (core_.Log().Add(record)) asio::post(socket_.get_executor(), [&log = core_.Log()] { log.Flush(); });
  }

  // Stops sending, reads (and drops) what the client still sends until it
  // closes or kLinger has passed, then closes.
  void Linger() {
    if (!core_.StartLingering()) return Close();
    lingering_ = true;
    beast::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    Arm(kLinger);
    Drain();
  }
  void Drain() {
    buffer_.consume(buffer_.size());
    socket_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->Close();
      self->Drain();
    });
  }

  void Close() {
    Disarm();
    ++generation_;  // a wait under way ends unheard
    waiting_ = false;
    timer_.cancel();
    beast::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  // One deadline at a time: a new one replaces the old, and an expired one
  // cancels whatever the socket is doing. Every request and every write sets
  // a deadline, so setting one costs no timer work: a wait under way that
  // ends no later is kept, and when it ends it looks at the deadline then
  // set, and waits again if that is still ahead.
  void Arm(std::chrono::steady_clock::duration after) {
    timedOut_ = false;
    armed_ = true;
    deadline_ = std::chrono::steady_clock::now() + after;
    if (waiting_ && timer_.expiry() <= deadline_) return;
    Wait();
  }
  void Wait() {
    waiting_ = true;
    const std::uint64_t generation = ++generation_;
    timer_.expires_at(deadline_);  // a later wait under way ends unheard
    timer_.async_wait([self = shared_from_this(), generation](beast::error_code ec) {
      if (generation != self->generation_) return;
      self->waiting_ = false;
      if (ec || !self->armed_) return;
      if (std::chrono::steady_clock::now() < self->deadline_) return self->Wait();
      self->armed_ = false;
      self->timedOut_ = true;
      beast::error_code ignored;
      self->socket_.cancel(ignored);
    });
  }
  void Disarm() { armed_ = false; }

  Core& core_;
  Socket socket_;
  Timer timer_;
  const std::string address_;   // for the log
  const std::string limitKey_;  // for the connection limits
  bool counted_ = false;
  bool lingering_ = false;
  bool awaitingRequest_ = false;  // reading the header of a next request

  beast::flat_buffer buffer_;
  std::optional<Parser> parser_;
  std::string method_, target_;
  unsigned version_ = 11;
  bool keepAlive_ = false;
  bool head_ = false;

  std::string replyHead_, replyBody_;
  std::size_t sent_ = 0;
  bool replyAgain_ = false;  // the connection stays open after this reply
  std::shared_ptr<BodyStream> stream_;
  std::optional<StreamResponse> streamResponse_;
  std::optional<http::response_serializer<http::buffer_body>> streamSerializer_;
  std::shared_ptr<std::string> piece_;
  int status_ = 0;
  std::uint64_t replyBytes_ = 0;
  bool logged_ = false;

  std::chrono::steady_clock::time_point deadline_;
  bool armed_ = false;    // deadline_ holds
  bool waiting_ = false;  // the timer is waiting (for deadline_ or earlier)
  std::uint64_t generation_ = 0;  // of the timer's present wait
  bool timedOut_ = false;
};

bool Core::Listen(std::string& error) {
  beast::error_code ec;
  const asio::ip::address address = asio::ip::make_address(options_.bind, ec);
  if (ec) {
    error = "\"" + options_.bind + "\" is not an IP address";
    return false;
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(options_.port));
  // A supervisor starts a killed instance again at once, while the threads
  // of the old one may still be closing its port: a port in use is tried
  // again for a few seconds before it is reported.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    acceptor_.open(endpoint.protocol(), ec);
    // SO_REUSEADDR for quick restarts, but not SO_REUSEPORT: a port already
    // in use is reported, not shared.
    if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (ec != asio::error::address_in_use || std::chrono::steady_clock::now() >= giveUp) break;
    beast::error_code ignored;
    acceptor_.close(ignored);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  // Accepting the waiting connections in one go must stop when none is left.
  if (!ec) acceptor_.non_blocking(true, ec);
  if (ec) {
    error = ec.message();
    return false;
  }
  port_ = acceptor_.local_endpoint(ec).port();

  // Every connection is a descriptor: take all the system allows, and keep
  // some for the files being served and the log.
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  std::size_t fromLimit = 1024;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur > 0)
    fromLimit = limit.rlim_cur > 256 ? std::size_t(limit.rlim_cur) - 128 : std::size_t(limit.rlim_cur) / 2;
  maxConnections_ = options_.maxConnections ? std::min(options_.maxConnections, fromLimit) : fromLimit;

  if (options_.stopOnSignals) {
    signals_.add(SIGINT);
    signals_.add(SIGTERM);
    signals_.async_wait([this](beast::error_code ec, int) {
      if (!ec) Drain();
    });
  }
  if (options_.onReload) {
    reloadSignal_.add(SIGHUP);
    reloadSignal_.add(SIGUSR1);
    WaitForReload();
  }
  return true;
}

void Core::WaitForReload() {
  reloadSignal_.async_wait([this](beast::error_code ec, int signal) {
    if (ec) return;
    options_.onReload(signal == SIGHUP);
    WaitForReload();
  });
}

void Core::Register(const std::shared_ptr<Connection>& connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  live_.emplace(connection.get(), connection);
}

void Core::Drain() {
  if (draining_.exchange(true)) return;
  beast::error_code ignored;
  acceptor_.close(ignored);
  acceptRetry_.cancel();
  std::vector<std::shared_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [raw, weak] : live_) {
      if (auto connection = weak.lock()) connections.push_back(std::move(connection));
    }
  }
  for (auto& connection : connections)
    asio::post(connection->Executor(), [connection] { connection->EndWhenIdle(); });
  WaitUntilDrained(std::chrono::steady_clock::now() + options_.stopTimeout);
}

void Core::WaitUntilDrained(std::chrono::steady_clock::time_point deadline) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (served_ == 0 || std::chrono::steady_clock::now() >= deadline) return Stop();
  }
  drainTimer_.expires_after(std::chrono::milliseconds(20));
  drainTimer_.async_wait([this, deadline](beast::error_code ec) {
    if (!ec) WaitUntilDrained(deadline);
  });
}

void Core::Accept() {
  acceptor_.async_accept(NextLoop(), [this](beast::error_code ec, Socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
    if (ec && ec != asio::error::connection_aborted) {
      // Out of descriptors or memory: the pending connections wait in the
      // backlog while others close.
      acceptRetry_.expires_after(kAcceptBackoff);
      acceptRetry_.async_wait([this](beast::error_code waitError) {
        if (!waitError) Accept();
      });
      return;
    }
    if (!ec) OnAccepted(std::move(socket));
    AcceptWaiting();
    Accept();
  });
}

// Each wait for a connection takes a turn of the event loop, behind every
// reply in its queue: taking one at a time, a burst of new clients would
// sit in the backlog, their requests unanswered, for as long as the loop is
// busy. So whatever else is waiting is taken at once (a bounded number, so
// that the loop's other work gets its turn).
void Core::AcceptWaiting() {
  constexpr int kMaxAtOnce = 256;
  for (int i = 0; i < kMaxAtOnce; ++i) {
    beast::error_code ec;
    Socket socket = acceptor_.accept(NextLoop(), ec);
    if (ec == asio::error::connection_aborted) continue;
    if (ec) return;  // none waiting; anything else is met by the waiting accept
    OnAccepted(std::move(socket));
  }
}

void Core::OnAccepted(Socket socket) {
  beast::error_code ec;
  const tcp::endpoint remote = socket.remote_endpoint(ec);
  if (ec) return;  // gone already
  // Replies go out as a header write and a body write; without this the body
  // waits for the client's delayed acknowledgement of the header.
  socket.set_option(tcp::no_delay(true), ec);
  const std::string address = Unmapped(remote.address()).to_string();
  std::string key = ConnectionLimitKey(address);
  const bool admitted = Admit(key);
  auto connection = std::make_shared<Connection>(*this, std::move(socket), address, std::move(key));
  asio::dispatch(connection->Executor(), [connection, admitted] {
    if (admitted)
      connection->Serve();
    else
      connection->Refuse();
  });
}

void Core::Run() {
  Accept();
  std::vector<std::thread> more;
  for (std::size_t i = 1; i < loops_.size(); ++i) {
    more.emplace_back([loop = loops_[i].get()] {
      // Stays in run() while it has no connections yet, until Stop().
      auto busy = asio::make_work_guard(*loop);
      loop->run();
    });
  }
  loops_[0]->run();
  Stop();  // the first loop may also end on its own (listening failed)
  for (std::thread& t : more) t.join();
  log_.Flush();
  // Requests still being run finish; queued ones are dropped with their
  // connections.
  pool_.stop();
  pool_.join();
  zipPool_.stop();
  zipPool_.join();
}

}  // namespace

std::string ConnectionLimitKey(const std::string& text) {
  beast::error_code ec;
  const asio::ip::address address = Unmapped(asio::ip::make_address(text, ec));
  if (ec) return text;
  if (address.is_v4()) return address.to_string();
  asio::ip::address_v6::bytes_type bytes = address.to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return asio::ip::address_v6(bytes).to_string() + "/64";
}

struct HttpServer::Impl {
  Impl(HttpOptions options, RequestHandler handler, AccessLog& log, QuickHandler quick)
      : core(std::move(options), std::move(handler), log, std::move(quick)) {}
  Core core;
};

HttpServer::HttpServer(HttpOptions options, RequestHandler handler, AccessLog& log, QuickHandler quick)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(handler), log, std::move(quick))) {}
HttpServer::~HttpServer() = default;
bool HttpServer::Listen(std::string& error) { return impl_->core.Listen(error); }
int HttpServer::Port() const { return impl_->core.Port(); }
void HttpServer::Run() { impl_->core.Run(); }
void HttpServer::Stop() { impl_->core.Stop(); }

}  // namespace vantle_server

// The SCPI server under load: 8 clients on TCP, each sending 1,000 queries (*IDN? and the
// measurements in turn, one at a time, each waiting for its answer) to one server over the
// virtual QX5200 while a waveform plays. Every answer is checked; a query lost, unanswered or
// answered out of turn makes the case fail. Figures: queries per second over all clients and
// the round trip of one query (p50, p99), to be read beside BM_Exchange, the device's own.
#include "DeviceLock.h"
#include "QX5200_Driver.h"
#include "ScpiInstrument.h"
#include "ScpiServer.h"
#include "TVirtualQX5200Device.h"
#include "bench_app.h"

#include <QEventLoop>
#include <QHostAddress>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

// `qx5200-ctl serve --simulate` in this process: the server runs on this thread's event loop.
struct Server {
  std::shared_ptr<VirtualHidBus> bus = VirtualHidBus::create();
  TVirtualQX5200Device device{bus};
  TQX5200_DRIVER driver{nullptr, bus->make_backend()};
  TDeviceLock lock{QStringLiteral("bench_scpi_load")};
  TDeviceTurn turn;
  TQX5200Instrument instrument{driver, lock, turn};
  TScpiServer server{instrument.table(), turn};

  bool open() {
    lock.attach(driver.hid());
    QCoreApplication::processEvents(); // the controller's first scan
    turn.take();
    const bool opened = instrument.open_device();
    turn.give();
    QString error;
    if (!opened || !server.listen_tcp(QHostAddress(QHostAddress::LocalHost), 0, error))
      return false;
    instrument.start_polling();
    return true;
  }
};

// A blocking client on its own thread; nothing of Qt in it.
class Client {
public:
  explicit Client(quint16 port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Only a lost answer takes this long.
    const timeval timeout{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  }
  ~Client() { ::close(fd_); }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  // Sends one line and reads one answer line; false when the connection fails or no answer comes.
  bool ask(const std::string &query, std::string &answer) {
    if (!connected_)
      return false;
    const std::string line = query + '\n';
    for (std::size_t sent = 0; sent < line.size();) {
      const ssize_t n = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
      if (n <= 0)
        return connected_ = false;
      sent += std::size_t(n);
    }
    std::size_t end;
    while ((end = buffer_.find('\n')) == std::string::npos) {
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0)
        return connected_ = false;
      buffer_.append(chunk, std::size_t(n));
    }
    answer = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return true;
  }

private:
  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

bool is_number(const std::string &s) {
  char *end = nullptr;
  std::strtod(s.c_str(), &end);
  return !s.empty() && end == s.c_str() + s.size();
}

// Runs each job on a thread of its own while this thread's event loop serves them.
void serve_while(std::vector<std::function<void()>> jobs) {
  QEventLoop loop;
  std::atomic<std::size_t> left = jobs.size();
  std::vector<std::thread> threads;
  for (auto &job : jobs)
    threads.emplace_back([&, job] {
      job();
      if (--left == 0)
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
  loop.exec();
  for (auto &t : threads)
    t.join();
}

void BM_ScpiClientsDuringRun(benchmark::State &state) {
  bench_app();
  constexpr int clients = 8, queries = 1000;
  Server s;
  if (!s.open()) {
    state.SkipWithError("the server did not start");
    return;
  }
  const quint16 port = s.server.tcp_port();
  // A pulse played until stopped.
  std::string started;
  serve_while({[&] {
    Client c(port);
    c.ask("WAV:DATA 0,0,1MS,0.5,1,0.5,1.001,0;REP 0;:OUTP ON;:OUTP?", started);
  }});
  if (started != "1") {
    state.SkipWithError("the waveform did not start");
    return;
  }

  std::vector<double> round_trips_us;
  std::int64_t total = 0, lost = 0;
  double seconds = 0;
  for (auto _ : state) {
    std::vector<std::vector<double>> times(clients);
    std::atomic<std::int64_t> answered = 0;
    std::vector<std::function<void()>> jobs;
    for (int i = 0; i < clients; ++i)
      jobs.push_back([&, i] {
        Client c(port);
        std::string answer;
        times[std::size_t(i)].reserve(queries);
        for (int q = 0; q < queries; ++q) {
          const bool idn = q % 2 == 0;
          const auto sent = clock_type::now();
          if (!c.ask(idn ? "*IDN?" : "MEAS:SENS?", answer))
            return;
          times[std::size_t(i)].push_back(
              std::chrono::duration<double, std::micro>(clock_type::now() - sent).count());
          // Each answer is the one to its own query.
          if (idn ? answer.rfind("QUOR LABS,QX5200,5200,", 0) != 0 : !is_number(answer))
            return;
          ++answered;
        }
      });
    const auto begin = clock_type::now();
    serve_while(std::move(jobs));
    seconds += std::chrono::duration<double>(clock_type::now() - begin).count();
    total += std::int64_t(clients) * queries;
    lost += std::int64_t(clients) * queries - answered;
    for (const auto &t : times)
      round_trips_us.insert(round_trips_us.end(), t.begin(), t.end());
  }
  std::string running;
  serve_while({[&] {
    Client c(port);
    c.ask("OUTP?", running);
  }});
  if (lost > 0) {
    state.SkipWithError((std::to_string(lost) + " of " + std::to_string(total) + " queries lost").c_str());
    return;
  }
  if (running != "1") {
    state.SkipWithError("the waveform stopped during the queries");
    return;
  }
  auto percentile = [&](double p) {
    auto at = round_trips_us.begin() + std::ptrdiff_t(p * double(round_trips_us.size() - 1));
    std::nth_element(round_trips_us.begin(), at, round_trips_us.end());
    return *at;
  };
  state.counters["queries_per_s"] = double(total) / seconds;
  state.counters["p50_us"] = percentile(0.50);
  state.counters["p99_us"] = percentile(0.99);
  state.counters["lost"] = double(lost);
}
BENCHMARK(BM_ScpiClientsDuringRun)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

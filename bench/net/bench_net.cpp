// Digests against OpenSSL's, the chunked decoder against a plain copy, and a loopback
// transfer through two event-driven sockets against blocking POSIX sockets moving the
// same bytes; the ratios are printed last.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "bench/net/loopback_transfer.h"
#include "net/httpprot_parse.h"
#include "net/md5.h"
#include "net/sha1.h"
#include "net/wsocket.h"
#include "platform/msg/pump.h"

#ifdef QV_BENCH_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

using namespace qv;

const std::string& Data() {
  static const std::string data = [] {
    std::string s(1 << 20, '\0');
    std::mt19937 rng(1);
    for (auto& c : s) c = char(rng());
    return s;
  }();
  return data;
}

void BM_SHA1(benchmark::State& state) {
  SHA1Digest d;
  for (auto _ : state) {
    SHA1Context c;
    SHA1Reset(c);
    SHA1Input(c, Data().data(), Data().size());
    SHA1Result(c, d);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(Data().size()));
}
BENCHMARK(BM_SHA1)->Unit(benchmark::kMillisecond);

#ifdef QV_BENCH_OPENSSL
void OpenSslDigest(benchmark::State& state, const EVP_MD* md) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  for (auto _ : state) {
    EVP_Digest(Data().data(), Data().size(), d, &len, md, nullptr);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(Data().size()));
}
void BM_SHA1_OpenSSL(benchmark::State& state) {
  OpenSslDigest(state, EVP_sha1());
}
BENCHMARK(BM_SHA1_OpenSSL)->Unit(benchmark::kMillisecond);
#endif

void BM_MD5(benchmark::State& state) {
  TMD5Digest d;
  for (auto _ : state) {
    TMD5Context c;
    MD5Init(c);
    MD5UpdateLarge(c, Data().data(), Data().size());
    MD5Final(d, c);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(Data().size()));
}
BENCHMARK(BM_MD5)->Unit(benchmark::kMillisecond);

#ifdef QV_BENCH_OPENSSL
void BM_MD5_OpenSSL(benchmark::State& state) {
  OpenSslDigest(state, EVP_md5());
}
BENCHMARK(BM_MD5_OpenSSL)->Unit(benchmark::kMillisecond);
#endif

// A 1 MiB body in 4 KiB chunks, fed in socket-sized pieces.
const std::string& ChunkedBody() {
  static const std::string body = [] {
    std::string s;
    for (std::size_t i = 0; i < Data().size(); i += 4096) {
      char size[16];
      std::snprintf(size, sizeof size, "%zx\r\n", std::min<std::size_t>(4096, Data().size() - i));
      s += size;
      s.append(Data(), i, 4096);
      s += "\r\n";
    }
    return s + "0\r\n\r\n";
  }();
  return body;
}

void BM_ChunkDecode(benchmark::State& state) {
  std::string out;
  out.reserve(Data().size());
  for (auto _ : state) {
    out.clear();
    THttpChunkDecoder d;
    const std::string& in = ChunkedBody();
    std::size_t pos = 0;
    while (pos < in.size()) {
      std::size_t used = 0;
      const auto r = d.Feed(in.data() + pos, std::min<std::size_t>(8192, in.size() - pos), used,
                            [&](const char* p, std::size_t n) { out.append(p, n); });
      pos += used;
      if (r != THttpChunkDecoder::Continue) break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(Data().size()));
}
BENCHMARK(BM_ChunkDecode)->Unit(benchmark::kMillisecond);

void BM_ChunkBaseline(benchmark::State& state) {
  std::string out;
  out.reserve(Data().size());
  for (auto _ : state) {
    out.clear();
    const std::string& in = ChunkedBody();
    for (std::size_t pos = 0; pos < in.size(); pos += 8192) {
      out.append(in, pos, std::min<std::size_t>(8192, in.size() - pos));
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(Data().size()));
}
BENCHMARK(BM_ChunkBaseline)->Unit(benchmark::kMillisecond);

constexpr std::size_t kTransfer = 8 << 20;

// Client and server components on this thread's queue; 8 MiB from one to the other.
void BM_WSocketTransfer(benchmark::State& state) {
  qv::test::LoopbackTransfer t;
  PumpUntil([&] { return t.Ready(); });
  const std::string block(kTransfer, 'x');
  for (auto _ : state) {
    t.received = 0;
    t.client.Send(block.data(), int(block.size()));
    PumpUntil([&] { return t.received == kTransfer; });
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(kTransfer));
  t.client.Close();
}
BENCHMARK(BM_WSocketTransfer)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same bytes through blocking sockets: a writer thread and a reading loop.
void BM_TransferBaseline(benchmark::State& state) {
  // A TCP pair on loopback, as the components use.
  const int l = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
  ::listen(l, 1);
  const int c = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
  const int s = ::accept(l, nullptr, nullptr);
  const std::string block(kTransfer, 'x');
  for (auto _ : state) {
    std::thread writer([&] {
      std::size_t sent = 0;
      while (sent < block.size()) {
        const ssize_t n = ::send(c, block.data() + sent, block.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += std::size_t(n);
      }
    });
    std::size_t got = 0;
    char buf[65536];
    while (got < kTransfer) {
      const ssize_t n = ::recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      got += std::size_t(n);
    }
    writer.join();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(kTransfer));
  ::close(c);
  ::close(s);
  ::close(l);
}
BENCHMARK(BM_TransferBaseline)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qv::bench::RatioReporter reporter({
      {"BM_SHA1", "BM_SHA1_OpenSSL", "SHA-1, 1 MiB", "OpenSSL", 28},
      {"BM_MD5", "BM_MD5_OpenSSL", "MD5, 1 MiB", "OpenSSL", 28},
      {"BM_ChunkDecode", "BM_ChunkBaseline", "chunked decoding, 1 MiB", "a plain copy", 28},
      {"BM_WSocketTransfer/real_time", "BM_TransferBaseline/real_time", "8 MiB over loopback",
       "blocking sockets", 28},
  });
  return qv::bench::RunBenchmarks(argc, argv, reporter);
}

// File stream throughput against the bound of the transport: each figure is the stream's rate
// and its ratio to a bare stop-and-wait exchange (packet out, 4-byte answer back, no checks) of
// the same packet size over the same transport, measured in the same run.
#include "bench/transports.h"
#include "core/crc32.h"
#include "protocol/packet_channel.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

namespace dm::bench {
namespace {

constexpr uint32_t kFileSize = 4 << 20;

void Crc32Throughput(benchmark::State& state)
{
    std::vector<uint8_t> data(64 * 1024, 0x5A);
    for (auto _ : state)
        benchmark::DoNotOptimize(ComputeCrc32(data.data(), data.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(Crc32Throughput);

// Seconds for one file of kFileSize through the packet layer, PC to Amiga.
double StreamSeconds(TransportPair& pair, uint32_t packetSize)
{
    HandshakeState pcState, amigaState;
    PacketChannel pc(std::move(pair.pc), packetSize, 50, pcState);
    PacketChannel amiga(std::move(pair.amiga), packetSize, 50, amigaState);
    std::vector<uint8_t> file(kFileSize, 0xA5), got;
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
        uint32_t size = 0;
        amiga.ReadWholeFile(got, size, 0);
    });
    pc.BeginFileWrite(kFileSize);
    pc.WriteFileData(file.data(), kFileSize, nullptr);
    pc.EndFileWrite();
    reader.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (got != file)
        return 0;
    return seconds;
}

// Seconds for the same payload as bare packets of the same size, each answered by 4 bytes.
double StopAndWaitSeconds(TransportPair& pair, uint32_t packetSize)
{
    const uint32_t payload = packetSize - 4;  // the offset field of a data packet
    const uint32_t packets = (kFileSize + payload - 1) / payload;
    const uint32_t wire = packetSize + 16;  // header and checksum bytes go over the wire too
    std::vector<uint8_t> packet(wire, 0xA5);
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
        std::vector<uint8_t> in(wire);
        for (uint32_t i = 0; i < packets; ++i) {
            pair.amiga->Read(in.data(), wire, 0);
            pair.amiga->Write("PkOk", 4, 0);
        }
    });
    char answer[4];
    for (uint32_t i = 0; i < packets; ++i) {
        pair.pc->Write(packet.data(), wire, 0);
        pair.pc->Read(answer, 4, 0);
    }
    reader.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void StreamThroughput(benchmark::State& state, TransportKind kind)
{
    const uint32_t packetSize = uint32_t(state.range(0));
    double stream = 0, bare = 0;
    for (auto _ : state) {
        TransportPair forStream = MakeTransport(kind);
        TransportPair forBare = MakeTransport(kind);
        if (!forStream.pc || !forBare.pc) {
            state.SkipWithError("transport unavailable");
            return;
        }
        stream += StreamSeconds(forStream, packetSize);
        bare += StopAndWaitSeconds(forBare, packetSize);
    }
    const double megabytes = double(kFileSize) * double(state.iterations()) / 1e6;
    state.counters["stream_MB/s"] = stream > 0 ? megabytes / stream : 0;
    state.counters["bare_MB/s"] = megabytes / bare;
    state.counters["ratio"] = stream > 0 ? bare / stream : 0;
}

BENCHMARK_CAPTURE(StreamThroughput, memory, TransportKind::Memory)
    ->Arg(512)
    ->Arg(4096)
    ->Arg(65535)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(StreamThroughput, tcp_loopback, TransportKind::TcpLoopback)
    ->Arg(512)
    ->Arg(4096)
    ->Arg(65535)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace dm::bench

BENCHMARK_MAIN();

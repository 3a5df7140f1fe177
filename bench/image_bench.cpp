// Loading, rejecting, decoding and saving key buffer files.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "image/hexfileHandle.h"
#include "image/save_file.h"

namespace {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        std::random_device device;
        path_ = fs::temp_directory_path() / ("vantri-bench-" + std::to_string(device()));
        fs::create_directory(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

std::string RandomBytes(std::size_t n) {
    std::mt19937 engine(42);
    std::string bytes(n, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(engine() & 0xFF);
    }
    return bytes;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

long MaxResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_LoadKeyFile(benchmark::State& state) {
    TempDir dir;
    WriteFile(dir / "key.bin", RandomBytes(vantri::KeyBufferSize));
    vantri::ByteImage image;
    for (auto _ : state) {
        vantri::LoadBinFile(image, dir / "key.bin");
        benchmark::DoNotOptimize(image.data());
    }
    if (vantri::BinFileSize != vantri::KeyBufferSize) {
        state.SkipWithError("the key file did not load");
    }
    state.SetBytesProcessed(state.iterations() * vantri::KeyBufferSize);
}
BENCHMARK(BM_LoadKeyFile);

// A multi-gigabyte file chosen by mistake for a Write: refused from its size,
// nothing allocated for it (the peak resident size stays where it was).
void BM_RejectHugeSparseFile(benchmark::State& state) {
    TempDir dir;
    const fs::path huge = dir / "huge.bin";
    WriteFile(huge, "");
    if (::truncate(huge.c_str(), 5LL << 30) != 0) {
        state.SkipWithError("cannot make a 5 GiB sparse file here");
        return;
    }
    vantri::ByteImage image;
    const long before = MaxResidentKiB();
    for (auto _ : state) {
        const vantri::LoadOutcome outcome = vantri::LoadBinFile(image, huge);
        benchmark::DoNotOptimize(outcome.ok);
        if (outcome.ok) {
            state.SkipWithError("a 5 GiB file was loaded");
            break;
        }
    }
    state.counters["peak_rss_growth_KiB"] = static_cast<double>(MaxResidentKiB() - before);
}
BENCHMARK(BM_RejectHugeSparseFile);

void BM_GetHexBlock4096(benchmark::State& state) {
    TempDir dir;
    WriteFile(dir / "key.bin", RandomBytes(vantri::KeyBufferSize));
    vantri::ByteImage image;
    vantri::LoadBinFile(image, dir / "key.bin");
    const std::int16_t stride = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vantri::GetHexBlock(image, 0, vantri::KeyBufferSize, stride));
    }
    state.SetBytesProcessed(state.iterations() * vantri::KeyBufferSize);
}
BENCHMARK(BM_GetHexBlock4096);

void BM_HexToBin8192(benchmark::State& state) {
    const std::string hex = vantri::BinToHex(RandomBytes(vantri::KeyBufferSize));
    for (auto _ : state) {
        benchmark::DoNotOptimize(vantri::HexToBin(hex));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(hex.size()));
}
BENCHMARK(BM_HexToBin8192);

// Each save writes a temporary file, syncs it, renames it over the target
// and syncs the folder: the time is the disk's, not the code's.
void BM_SaveBinFile(benchmark::State& state) {
    TempDir dir;
    const std::string key = RandomBytes(vantri::KeyBufferSize);
    for (auto _ : state) {
        const vantri::SaveOutcome outcome = vantri::SaveBinFile(dir / "Ram.Bin", key);
        if (!outcome.ok) {
            state.SkipWithError(outcome.reason.c_str());
            break;
        }
    }
}
BENCHMARK(BM_SaveBinFile)->Unit(benchmark::kMicrosecond);

}  // namespace

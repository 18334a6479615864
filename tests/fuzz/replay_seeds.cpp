// Runs a fuzz target's entry in the normal test build: over its stored seeds
// and a few fixed inputs, so that the target compiles and its checks hold in
// every build, not only in the fuzz build. A failed check aborts the test.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int run(const std::string& input) {
  return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

TEST(FuzzTarget, AcceptsItsSeedsAndFixedInputs) {
  std::vector<std::string> inputs = {std::string(), std::string(1, '\0'), std::string(1, '\1'),
                                     std::string("\1albums\0x", 9), std::string(300, '\xFF')};
  const std::filesystem::path seeds = TOLVEK_FUZZ_SEEDS;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(seeds, ec)) {
    std::ifstream in(entry.path(), std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  for (const std::string& input : inputs) EXPECT_EQ(run(input), 0) << input.size() << " bytes";
}

}  // namespace

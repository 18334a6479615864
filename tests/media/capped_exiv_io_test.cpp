// exiv2's reader over an opened file: never past the cap or the file's size
// when opened, a file cut short ends where it ends, no writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <exiv2/error.hpp>

#include <string>

#include "platform/media/capped_exiv_io.h"
#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {

std::string bytesUpTo(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>('a' + i % 26);
  return bytes;
}

TEST(CappedExivIo, ReadsSeeksAndMapsWithinTheCapOnly) {
  ScratchFolder folder;
  ASSERT_TRUE(writeFileBytes(folder.file("f"), bytesUpTo(100)));
  auto file = ReadableFile::open(folder.file("f"));
  ASSERT_TRUE(file);
  media::CappedExivIo io(*file, 50);
  ASSERT_EQ(io.open(), 0);
  EXPECT_EQ(io.size(), 50u);
  Exiv2::byte buffer[100] = {};
  EXPECT_EQ(io.read(buffer, 100), 50);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 50), bytesUpTo(50));
  EXPECT_TRUE(io.eof());
  EXPECT_EQ(io.seek(10, Exiv2::BasicIo::beg), 0);
  EXPECT_EQ(io.getb(), 'k');
  EXPECT_EQ(io.tell(), 11);
  EXPECT_NE(io.seek(51, Exiv2::BasicIo::beg), 0) << "past the cap";
  EXPECT_NE(io.seek(-1, Exiv2::BasicIo::beg), 0);
  EXPECT_EQ(io.seek(-5, Exiv2::BasicIo::end), 0);
  EXPECT_EQ(io.read(1000).size_, 5);  // never more than is left
  EXPECT_EQ(io.seek(0, Exiv2::BasicIo::beg), 0);
  const Exiv2::byte* mapped = io.mmap(false);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped), io.size()), bytesUpTo(50));
  EXPECT_THROW(io.mmap(true), Exiv2::AnyError);
  EXPECT_EQ(io.write(buffer, 10), 0);
  EXPECT_EQ(io.putb(1), EOF);
}

TEST(CappedExivIo, AFileCutShortWhileReadEndsWhereItEnds) {
  ScratchFolder folder;
  ASSERT_TRUE(writeFileBytes(folder.file("f"), bytesUpTo(100)));
  auto file = ReadableFile::open(folder.file("f"));
  ASSERT_TRUE(file);
  media::CappedExivIo io(*file, 1000);
  ASSERT_EQ(io.open(), 0);
  EXPECT_EQ(io.size(), 100u) << "the size when opened";
  ASSERT_EQ(::truncate(folder.file("f").c_str(), 30), 0);
  Exiv2::byte buffer[100] = {};
  EXPECT_EQ(io.read(buffer, 100), 30);
  EXPECT_TRUE(io.eof());
  EXPECT_EQ(io.size(), 30u);
  // A copy, never a mapping that would fault on the missing bytes.
  EXPECT_EQ(io.seek(0, Exiv2::BasicIo::beg), 0);
  EXPECT_NE(io.mmap(false), nullptr);
}

// The copy mmap() hands out holds what the file still has and zeros for
// the rest of the size exiv2 was told, never what an earlier copy on this
// thread held (its memory is reused) nor leftover memory.
TEST(CappedExivIo, EachCopyHoldsItsFileAndZerosPastWhereItWasCut) {
  ScratchFolder folder;
  const struct {
    std::size_t size;
    char fill;
    std::size_t keep;  // what is left of it once opened
  } cases[] = {{3 << 20, 'x', 3 << 20}, {1 << 20, 'y', 1000}, {2 << 20, 'z', 0},
               {3 << 20, 'w', 5000},    {100, 'v', 100},       {70 << 20, 'u', 1 << 20}};
  for (const auto& c : cases) {
    const std::string bytes(c.size, c.fill);
    ASSERT_TRUE(writeFileBytes(folder.file("f"), bytes));
    auto file = ReadableFile::open(folder.file("f"));
    ASSERT_TRUE(file);
    media::CappedExivIo io(*file, bytes.size());
    ASSERT_EQ(io.open(), 0);
    ASSERT_EQ(::truncate(folder.file("f").c_str(), static_cast<off_t>(c.keep)), 0);
    const Exiv2::byte* mapped = io.mmap(false);
    ASSERT_NE(mapped, nullptr);
    const std::string copy(reinterpret_cast<const char*>(mapped), bytes.size());
    EXPECT_EQ(copy.substr(0, c.keep), bytes.substr(0, c.keep)) << c.fill;
    EXPECT_EQ(copy.find_first_not_of('\0', c.keep), std::string::npos) << c.fill;
    EXPECT_EQ(io.close(), 0);
  }
}

}  // namespace
}  // namespace tolvek::testing

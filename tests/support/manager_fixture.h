#pragma once
// Photo-manager databases made by the tests and benchmarks: an empty
// Shotwell database of schema 20 (the tables as Shotwell 0.30 creates them)
// and one filled with bulk rows, and SQL run on any such file to alter it.
// Linked by the tests and the benchmarks (tolvek_catalog_fixture).
#include <cstdint>
#include <string>
#include <string_view>

#include "library/status.h"

namespace tolvek::testing {

// `text` as an SQL string literal ('it''s').
std::string sqlQuoted(std::string_view text);

// Runs `sql` (any number of statements) on the database file at `path`,
// read-write, in one transaction.
Status executeSqlOn(const std::string& path, const std::string& sql);

// A new Shotwell database at `path` with the tables of schema 20, its
// VersionTable row and nothing else.
Status createShotwellDatabase(const std::string& path);

// What writeShotwellBulk fills in. Photos are `root`/YYYY/MM/IMG_NNNNNN.JPG
// with ids from 1, one in 50 without an exposure time, one in 200 in the
// trash and one in 300 offline (flags 4 and 8); each event holds
// `photosPerEvent` consecutive photos, every other event named; tag t (from
// 1) lists the photos whose id modulo `tags` is t - 1 as "thumb%016x"
// tokens, the odd ones hierarchical ("/Places/Place t"). Videos are
// `root`/video/VID_NNNNNN.MP4, in no event and no tag.
struct ShotwellBulk {
  int photos = 100000;
  int videos = 0;
  int photosPerEvent = 50;
  int tags = 20;
  std::string root = "/home/user/Pictures";
};
Status writeShotwellBulk(const std::string& path, const ShotwellBulk& bulk);

// A tag tree no one makes by hand, added to the digiKam database at `path`
// (without digiKam's triggers that keep its TagsTree table, which a crafted
// database need not have): a chain `chain` tags deep ("level 0" at the top),
// a loop of `loop` tags, and a top-level tag named with `longName` bytes
// with a child ("child"). Ids count up from `firstId` in that order; every
// one of these tags tags the image `image`.
struct HostileTags {
  int chain = 12000;
  int loop = 20000;
  std::int64_t longName = 10 << 20;
  std::int64_t image = 1;
  std::int64_t firstId = 100000;
  std::int64_t loopId() const { return firstId + chain; }
  std::int64_t longNameId() const { return loopId() + loop; }
};
Status writeHostileDigikamTags(const std::string& path, const HostileTags& tags = {});

}  // namespace tolvek::testing

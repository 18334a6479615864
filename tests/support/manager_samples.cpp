#include "support/manager_samples.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/manager_fixture.h"
#include "support/process_runner.h"

namespace tolvek::testing {
namespace {

constexpr char kFixtureRoot[] = "/fixture/photos";

bool isFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string ManagerSamples::folder() { return std::string(TOLVEK_SAMPLES_DIR) + "/managers"; }

bool ManagerSamples::available() {
  return isFile(folder() + "/photos.tar") && isFile(folder() + "/shotwell-photo.db") &&
         isFile(folder() + "/digikam4.db");
}

std::string ManagerSamples::missing() { return "the photo-manager samples are not in " + folder(); }

ManagerSamples::ManagerSamples() {
  const ProcessResult tar =
      runProcess("/bin/sh", {"-c", "exec tar -xf " + quoted(folder() + "/photos.tar") + " -C " + quoted(scratch_.path())});
  EXPECT_TRUE(tar.exited() && tar.exitStatus == 0) << tar.err;
}

std::string ManagerSamples::copy(const char* sample, const std::string& name, const std::string& moveSql,
                                 const std::string& sql) const {
  const std::string target = file(name);
  const auto bytes = readFileBytes(folder() + "/" + sample);
  if (!bytes || !writeFileBytes(target, *bytes)) {
    ADD_FAILURE() << "cannot copy " << sample;
    return {};
  }
  // The samples are read-only; the copy is the test's.
  ::chmod(target.c_str(), 0644);
  const Status altered = executeSqlOn(target, moveSql + sql);
  if (!altered) {
    ADD_FAILURE() << altered.message();
    return {};
  }
  return target;
}

std::string ManagerSamples::shotwellCopy(const std::string& name, const std::string& sql) const {
  const std::string from = sqlQuoted(kFixtureRoot), to = sqlQuoted(photos());
  return copy("shotwell-photo.db", name,
              "UPDATE PhotoTable SET filename = replace(filename, " + from + ", " + to + ");" +
                  "UPDATE VideoTable SET filename = replace(filename, " + from + ", " + to + ");" +
                  "UPDATE TombstoneTable SET filepath = replace(filepath, " + from + ", " + to + ");",
              sql);
}

std::string ManagerSamples::digikamCopy(const std::string& name, const std::string& sql) const {
  return copy("digikam4.db", name,
              "UPDATE AlbumRoots SET identifier = replace(identifier, " + sqlQuoted(kFixtureRoot) + ", " +
                  sqlQuoted(photos()) + ");",
              sql);
}

}  // namespace tolvek::testing

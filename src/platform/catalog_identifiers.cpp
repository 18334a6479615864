#include "platform/catalog_identifiers.h"

#include <glib.h>

namespace tolvek {
namespace {

std::string upperCaseUuid() {
  gchar* uuid = g_uuid_string_random();
  gchar* upper = g_ascii_strup(uuid, -1);
  std::string result(upper);
  g_free(upper);
  g_free(uuid);
  return result;
}

}  // namespace

std::string newAssetIdentifier() { return upperCaseUuid() + "/L0/001"; }
std::string newCollectionIdentifier() { return upperCaseUuid() + "/L0/040"; }

}  // namespace tolvek

// The access store's key files against GLib's GKeyFile, which wrote every
// store before: the same files are accepted and refused, read to the same
// values and rewritten to the same bytes, and what is written now reads back
// the same with GKeyFile.
#include "platform/access/key_file.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvek::testing {
namespace {

struct GKeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using GlibKeyFile = std::unique_ptr<GKeyFile, GKeyFileDeleter>;

// GKeyFile as the store used it (no flags: comments and blank lines dropped);
// nothing when it refuses `text`.
GlibKeyFile glibLoad(const std::string& text) {
  GlibKeyFile file(g_key_file_new());
  if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) return nullptr;
  return file;
}

std::string glibText(GKeyFile* file) {
  gsize length = 0;
  gchar* data = g_key_file_to_data(file, &length, nullptr);
  std::string text(data, length);
  g_free(data);
  return text;
}

std::optional<std::vector<std::string>> glibList(GKeyFile* file, const std::string& group, const char* key) {
  gsize length = 0;
  gchar** items = g_key_file_get_string_list(file, group.c_str(), key, &length, nullptr);
  if (items == nullptr) return std::nullopt;
  std::vector<std::string> list(items, items + length);
  g_strfreev(items);
  return list;
}

// Files as users' disks may hold them: written by GKeyFile, edited by hand.
const std::vector<std::string> kFiles = {
    "",
    "\n\n",
    "# only a comment\n",
    "[app.tolvek.photos-helper]\nstatus=3\n",
    "[a]\nstatus=4\nchosen=ID-1/L0/001;ID-2/L0/001;\n\n[b]\nstatus=2\n",
    "# comment\n\n  [spaced]  \t\n  key  =  value with trailing blank \n#c\n",
    "[crlf]\r\nstatus=3\r\nchosen=x;\r\n",
    "[last]\nstatus=3\r",
    "[dup]\nstatus=1\n[other]\nk=v\n[dup]\nstatus=3\nstatus=4\n",
    "[g]\nEncoding=utf-8\n",
    "[g]\nEncoding=Latin-1\n",
    "[g]\nk=v\n[h]\nEncoding=Latin-1\n",
    "key=before any group\n",
    "[g]\nno equals sign\n",
    "[g]\n=no key\n",
    "[]\nk=v\n",
    "[a[b]\nk=v\n",
    "[g] trailing\nk=v\n",
    "[g]\n key with [bracket=v\n",
    "[g]\nk[de=v\n",
    "[g]\nk\t=\t\tv\n",
    "[g]\nempty=\n[h]\n[i]\n",
    "[caf\xC3\xA9 \xF0\x9F\x93\xB7]\nstatus=3\n",
    "\t# indented comment\n[g]\nk=v",
};

TEST(KeyFile, AcceptsRefusesAndRewritesFilesAsGKeyFileDoes) {
  for (const std::string& text : kFiles) {
    SCOPED_TRACE(text);
    const GlibKeyFile glib = glibLoad(text);
    const std::optional<KeyFile> ours = KeyFile::parse(text);
    ASSERT_EQ(ours.has_value(), glib != nullptr);
    if (!ours) continue;
    EXPECT_EQ(ours->text(), glibText(glib.get()));
    for (const char* group : {"a", "b", "g", "dup", "crlf", "last", "spaced", "app.tolvek.photos-helper"}) {
      EXPECT_EQ(ours->hasGroup(group), g_key_file_has_group(glib.get(), group) != 0) << group;
      for (const char* key : {"status", "chosen", "key", "k", "Name", "empty"}) {
        gchar* value = g_key_file_get_value(glib.get(), group, key, nullptr);
        EXPECT_EQ(ours->value(group, key), value ? std::optional<std::string>(value) : std::nullopt) << group << key;
        g_free(value);
      }
    }
  }
}

// Identifiers and chosen assets no real store holds, but which the format
// must carry unchanged.
const std::vector<std::string> kGroups = {"app.tolvek.photos-helper", "caf\xC3\xA9", "with space", "semi;colon",
                                          "back\\slash", "equals=sign", "#hash", " leading", "trailing ",
                                          "\xF0\x9F\x93\xB7"};
const std::vector<std::vector<std::string>> kLists = {
    {},
    {""},
    {"ID-1/L0/001"},
    {"a;b", "c\\d", "e\\;f"},
    {" lead", "\tlead", "  both  ", "mid dle", "; lead"},
    {"line\nfeed", "carriage\rreturn", "\\s", "\\n"},
    {"", "", "x", ""},
    {"caf\xC3\xA9", "\xF0\x9F\x93\xB7;"},
};

TEST(KeyFile, WhatItWritesGKeyFileReadsBackAndTheOtherWayRound) {
  for (const std::string& group : kGroups) {
    for (const auto& list : kLists) {
      SCOPED_TRACE(group + " / " + std::to_string(list.size()) + " items");
      KeyFile ours;
      ours.setValue("other", "status", "1");
      ours.setValue(group, "status", "4");
      ours.setValue(group, "chosen", keyFileListValue(list));

      GlibKeyFile glib(g_key_file_new());
      g_key_file_set_int64(glib.get(), "other", "status", 1);
      g_key_file_set_int64(glib.get(), group.c_str(), "status", 4);
      std::vector<const gchar*> items;
      for (const std::string& item : list) items.push_back(item.c_str());
      g_key_file_set_string_list(glib.get(), group.c_str(), "chosen", items.data(), items.size());

      ASSERT_EQ(ours.text(), glibText(glib.get()));
      const GlibKeyFile reread = glibLoad(ours.text());
      ASSERT_NE(reread, nullptr);
      const auto back = glibList(reread.get(), group, "chosen");
      EXPECT_EQ(back, list);
      const std::optional<KeyFile> parsed = KeyFile::parse(glibText(glib.get()));
      ASSERT_TRUE(parsed.has_value());
      EXPECT_EQ(keyFileList(parsed->value(group, "chosen").value_or("")), back);
    }
  }
}

// GKeyFile kept a translated key ("Name[de]") only where the environment's
// language matched it; a rewrite now keeps every key, and both read the same
// untranslated value.
TEST(KeyFile, KeepsTranslatedKeysOnARewrite) {
  const std::string text = "[g]\nName[de_DE.UTF-8@euro]=x\nName[]=z\nName=y\n";
  const std::optional<KeyFile> ours = KeyFile::parse(text);
  ASSERT_TRUE(ours.has_value());
  EXPECT_EQ(ours->text(), text);
  const GlibKeyFile glib = glibLoad(text);
  ASSERT_NE(glib, nullptr);
  gchar* name = g_key_file_get_value(glib.get(), "g", "Name", nullptr);
  EXPECT_EQ(ours->value("g", "Name"), std::optional<std::string>(name));
  g_free(name);
}

TEST(KeyFile, ReadsListValuesAsGKeyFileDoes) {
  const std::vector<std::string> values = {"",    "a",       "a;",  "a;b",  ";",   ";;",  "a\\;b;", "\\s\\t\\n\\r\\\\;",
                                           "\\",  "a;\\",    "\\x", "a\\q;", " a ;", "a;;b", "\\;",    "\xC3\xA9;"};
  for (const std::string& value : values) {
    SCOPED_TRACE(value);
    GlibKeyFile glib(g_key_file_new());
    g_key_file_set_value(glib.get(), "g", "k", value.c_str());
    EXPECT_EQ(keyFileList(value), glibList(glib.get(), "g", "k"));
  }
}

TEST(KeyFile, GroupNamesAreThoseGKeyFileCanHold) {
  for (const std::string& name : {std::string("ok.name"), std::string(""), std::string("a[b"), std::string("a]b"),
                                  std::string("tab\there"), std::string("del\x7F"), std::string("caf\xC3\xA9")}) {
    const std::string line = "[" + name + "]\n";
    EXPECT_EQ(isKeyFileGroupName(name), glibLoad(line) != nullptr) << name;
  }
}

}  // namespace
}  // namespace tolvek::testing

// What every command of the tool shares: how it reports errors, reads its
// options and identifiers, and writes fields.
#include <glib.h>
#include <unistd.h>

#include <cstdio>

#include "platform/library_writer.h"
#include "platform/posix/posix_file.h"
#include "platform/system/hex_digits.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

// Identifiers are about 40 bytes: this holds millions of them, and no more
// than kMaxIdentifiers are taken.
constexpr std::uint64_t kMaxIdentifierInput = 128ull << 20;
constexpr std::size_t kMaxIdentifiers = 2'000'000;

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

void appendEscapedByte(std::string& out, unsigned char byte) {
  out += "\\x";
  appendHexByte(out, byte);
}

// The opened value, or null after failWith with its message.
template <class T>
std::unique_ptr<T> openedOrReported(Result<std::unique_ptr<T>> opened) {
  if (!opened) {
    failWith(opened.message());
    return nullptr;
  }
  return std::move(opened).value();
}

}  // namespace

std::unique_ptr<LibraryWriter> openLibrary() { return openedOrReported(LibraryWriter::open(userLibraryLocation())); }

std::unique_ptr<LibraryWriter> openLibraryToChangeSources() {
  return openedOrReported(LibraryWriter::open(userLibraryLocation(), nullptr, LibraryWriter::Sources::change));
}

std::unique_ptr<CatalogWriter> openCatalog() { return openedOrReported(CatalogWriter::open(userLibraryLocation())); }

int failWith(const std::string& message) {
  std::fprintf(stderr, "tolvek-photos-library: %s\n", outputField(message).c_str());
  return kExitFailure;
}

int usageError(std::string_view command, const std::string& message) {
  const std::string name = outputField(command);
  std::fprintf(stderr, "tolvek-photos-library: %s: %s\nTry 'tolvek-photos-library %s --help'.\n", name.c_str(),
               outputField(message).c_str(), name.c_str());
  return kExitUsage;
}

bool ParsedArguments::has(std::string_view name) const { return value(name) != nullptr; }

const std::string* ParsedArguments::value(std::string_view name) const {
  const std::string* found = nullptr;
  for (const auto& [option, value] : options) {
    if (option == name) found = &value;
  }
  return found;
}

Result<ParsedArguments> parseArguments(const Arguments& arguments, std::initializer_list<KnownOption> known) {
  return parseArguments(arguments, std::span<const KnownOption>(known.begin(), known.size()));
}

Result<ParsedArguments> parseArguments(const Arguments& arguments, std::span<const KnownOption> known) {
  ParsedArguments parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      parsed.operands.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = a.find('=');
    const std::string name = a.substr(0, equals);
    const KnownOption* option = nullptr;
    for (const KnownOption& k : known) {
      if (name.size() == k.name.size() + 2 && name.starts_with("--") && name.substr(2) == k.name) option = &k;
    }
    if (option == nullptr) return Status::error("unknown option '" + name + "'");
    if (!option->takesValue) {
      if (equals != std::string::npos) return Status::error("option '" + name + "' takes no value");
      parsed.options.emplace_back(option->name, "");
    } else if (equals != std::string::npos) {
      parsed.options.emplace_back(option->name, a.substr(equals + 1));
    } else if (i + 1 < arguments.size()) {
      parsed.options.emplace_back(option->name, arguments[++i]);
    } else {
      return Status::error("option '" + name + "' needs a value");
    }
  }
  return parsed;
}

Result<Arguments> identifiersFrom(const Arguments& operands) {
  Arguments identifiers;
  bool readInput = false;
  for (const std::string& operand : operands) {
    if (operand != "-") {
      identifiers.push_back(operand);
      continue;
    }
    if (readInput) return Status::error("'-' (standard input) can be given once");
    readInput = true;
    auto input = readUntilEnd(STDIN_FILENO, kMaxIdentifierInput);
    if (!input) return Status::error("cannot read identifiers from standard input: " + input.message());
    std::string_view rest(*input);
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      std::string line = trimmed(rest.substr(0, end));
      if (!line.empty()) identifiers.push_back(std::move(line));
      if (identifiers.size() > kMaxIdentifiers) {
        return Status::error("more than " + std::to_string(kMaxIdentifiers) + " identifiers on standard input");
      }
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
  }
  return identifiers;
}

std::string outputField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte == '\t' || byte == '\n' || byte == '\\') {
      out += byte == '\t' ? "\\t" : byte == '\n' ? "\\n" : "\\\\";
      ++p;
    } else if (byte < 0x20 || byte == 0x7f) {
      appendEscapedByte(out, byte);  // a carriage return or escape would rewrite the terminal
      ++p;
    } else if (byte < 0x80) {
      out += *p++;
    } else {
      const gunichar c = g_utf8_get_char_validated(p, end - p);
      if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
        appendEscapedByte(out, byte);
        ++p;
      } else {
        const char* next = g_utf8_next_char(p);
        // C1 controls (U+0080 to U+009F) act on terminals as C0 ones do.
        if (c >= 0x80 && c <= 0x9f) {
          for (const char* b = p; b < next; ++b) appendEscapedByte(out, static_cast<unsigned char>(*b));
        } else {
          out.append(p, next);
        }
        p = next;
      }
    }
  }
  return out;
}

}  // namespace tolvek::tool

#pragma once
// Base64 as RFC 4648 defines it: the standard alphabet, padded with "=",
// no line breaks. The thumbnails' data URLs carry their JPEGs this way.
#include <string>
#include <string_view>

namespace tolvek {

std::string base64Encoded(std::string_view bytes);

}  // namespace tolvek

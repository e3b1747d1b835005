// JSON's string form of a Windows-1251 text (UTF-8, quoted and escaped), for
// the status commands' JSON.
#pragma once

#include <string>

namespace qn {

std::string JsonString(const std::string& cp1251);

}  // namespace qn

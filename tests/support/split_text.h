// The pieces ForEachPiece gives, as strings: how the tests take apart the
// manifests and records the product writes.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "app/text.h"

inline std::vector<std::string> SplitText(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  ForEachPiece(text, separator, [&](std::string_view piece) { pieces.emplace_back(piece); });
  return pieces;
}

// The end-user licence agreement shown on the agreement page.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace brelvane {

// The agreement in its five pieces, in the order they are joined: the heading
// with the preamble, then sections 1-2, 3-4, 5-6 and 7-9.  Lines end in CR LF;
// every section starts on a new line after an empty one.
const std::array<std::string_view, 5>& AgreementPieces();

// The five pieces joined.
std::string AgreementText();

}  // namespace brelvane

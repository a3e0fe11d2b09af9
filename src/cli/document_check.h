// Tagvert: problems of a TTX document a translator wants to know before sending it out
// (CheckDocument).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli/document_scan.h"
#include "storage/byte_stream.h"

namespace tagvert::cli {

/// Reads the whole document into memory, cuts it into the element records of the conversion
/// (memory then holds its decoded text and 12 bytes per element) and calls
/// `report(line, column, message)` for each problem: end
/// tags without a start, start tags never closed, ut placeholders without their partner, Tu
/// without a Tuv whose Lang is the target's and empty Tuvs of that language, and
/// text that is not well-formed XML (a stray '<' or '&', markup cut off). Lines and columns
/// count from 1; a column counts UTF-16 units. The target's Lang is `chooseTarget` of the
/// languages the same reading found of the document (those of ScanLanguages; its units are not
/// counted) and is called once, after it; none when it gives an empty string. Returns the
/// number of problems. Throws CHResultError when the source fails, E_OUTOFMEMORY for a document
/// of 2^32 - 1 units or more. With `listLimit` (0: no limit) at most that many problems
/// of each kind go to `report`; `unlisted`, when given, receives the others' count by kind (the
/// words that name the kind, kinds without such problems left out).
std::size_t CheckDocument(
    const ByteStreamPtr& source,
    const std::function<std::u16string(const CDocumentLanguages&)>& chooseTarget,
    const std::function<void(std::uint64_t, std::uint64_t, const std::string&)>& report,
    std::size_t listLimit = 0,
    std::vector<std::pair<std::string, std::size_t>>* unlisted = nullptr);

}  // namespace tagvert::cli

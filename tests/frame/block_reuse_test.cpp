// Tagvert: conversions in large blocks that an earlier conversion on the thread gave back write
// what they write in fresh memory.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame_test_util.h"
#include "storage/large_memory.h"

namespace tagvert {
namespace {

// A TTX document of `units` paragraphs and translation units cut from `pieces` in turn, large
// enough for its buffers and tables to take large blocks.
std::u16string Document(std::size_t units, const std::vector<std::u16string>& pieces) {
  std::u16string doc =
      u"<TRADOStag Version=\"2.0\"><FrontMatter><UserSettings SourceLanguage=\"EN-US\" "
      u"TargetLanguage=\"DE-DE\"/></FrontMatter><Body><Raw>\r\n";
  for (std::size_t i = 0; i < units; ++i) {
    const std::u16string& a = pieces[i % pieces.size()];
    const std::u16string& b = pieces[(i * 7 + 3) % pieces.size()];
    if (i % 3 == 0) {
      doc += u"<ut Type=\"start\" Style=\"external\">&lt;p&gt;</ut>";
      doc += a;
      doc += u"<df Size=\"2\">";
      doc += b;
      doc += u"</df><ut Type=\"end\" Style=\"external\">&lt;/p&gt;</ut>\r\n";
    } else {
      doc += i % 2 == 0 ? u"<Tu MatchPercent=\"100\">" : u"<Tu MatchPercent=\"0\">";
      doc += u"<Tuv Lang=\"EN-US\">";
      doc += a;
      doc += u"<ut DisplayText=\"br\"/>";
      doc += b;
      doc += u"</Tuv><Tuv Lang=\"DE-DE\">";
      doc += b;
      doc += u"</Tuv></Tu>\r\n";
    }
  }
  return doc + u"</Raw></Body></TRADOStag>";
}

// A large Latin document, then a smaller one with other scripts (a wide source buffer), its
// IF converted back, all on a thread that reuses large blocks and fills every reused block with
// a byte no conversion writes there: what the second conversions write is what they write
// on a thread that reuses nothing. A reader of memory that a conversion did not write (past a
// table's end, a buffer's room) would find the filling or the first document instead of zeros.
TEST(CLargeBlockReuseTest, ConversionsInReusedBlocksWriteWhatFreshOnesWrite) {
  if (!CLargeBlockReuse::IsEnabled()) GTEST_SKIP() << "no reuse under AddressSanitizer";
  const std::vector<std::u16string> latin = {u"Hello world",      u"Prix\u00A0: 5\u00A0\u20AC",
                                             u"a &amp; b &lt; c", u"caf\u00E9 cr\u00E8me",
                                             u"one  two\tthree",  u"]]&gt;"};
  const std::vector<std::u16string> mixed = {u"\u4E2D\u6587\u6587\u672C",
                                             u"\u0416\u0443\u043A",
                                             u"&#x1F600; &#160;x",
                                             u"x\uE805y",
                                             u"\u00AB\u00A0Bonjour\u00A0\u00BB",
                                             u"Hi"};
  const auto big = test::Utf8Bytes(Document(60000, latin));
  const auto small = test::Utf8Bytes(Document(25000, mixed));
  ASSERT_GT(small.size(), 2 * kLargeBlockBytes);

  test::CConversion reusedTo;
  test::CConversion reusedFrom;
  std::size_t reused = 0;
  {
    const CLargeBlockReuse reuse(0xA5);
    CTagvertConverter converter;
    ASSERT_EQ(test::ToIf(big, &converter).result, kSOk);
    reusedTo = test::ToIf(small, &converter);
    reusedFrom = test::FromIf(reusedTo.output, &converter);
    reused = reuse.ReusedCount();
  }
  CTagvertConverter converter;
  const test::CConversion freshTo = test::ToIf(small, &converter);
  const test::CConversion freshFrom = test::FromIf(freshTo.output, &converter);
  EXPECT_GE(reused, 3u);  // the conversions ran in reused blocks
  ASSERT_EQ(freshTo.result, kSOk);
  ASSERT_EQ(freshFrom.result, kSOk);
  EXPECT_EQ(reusedTo.result, kSOk);
  EXPECT_EQ(reusedFrom.result, kSOk);
  EXPECT_TRUE(reusedTo.output == freshTo.output);
  EXPECT_TRUE(reusedFrom.output == freshFrom.output);
}

}  // namespace
}  // namespace tagvert

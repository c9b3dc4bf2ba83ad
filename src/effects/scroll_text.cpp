// The built-in text and the glyph table. Each literal below is one line of
// 38 cells; the header fixes the text's size, so a line too long or too short
// does not compile. 0xA7 is split off from a following hex digit so that the
// escape ends where it should.
#include "effects/scroll_text.h"

namespace nebla::effects {

const char ScrollText[] =
    // Page 1: the title.
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                nebla                 "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    // Page 2: where the program comes from, and how to get in touch.
    "                                      "
    "         where it comes from          "
    "                                      "
    "    nebla is a little smoke demo,     "
    "    written in c plus plus for the    "
    "   machines of today. each wisp you   "
    "  see is a particle drifting through  "
    "        a field of slow waves.        "
    "                                      "
    "        want to get in touch?         "
    "  see the nebla repository - ideas,   "
    "   bug reports and patches welcome!   "
    "                                      "
    // Page 3: its style, and greetings.
    "                                      "
    "           about the style            "
    "                                      "
    "    no polygons, no textures: just    "
    "  smoke. every letter you read here   "
    " was flown in by a swarm of particles "
    "    - and it will blow away again.    "
    "                                      "
    "         greetings go out to          "
    "  everyone who makes demos for fun,   "
    "   all tinkerers and pixel pushers    "
    "      and to you, for watching!       "
    "                                      "
    // Page 4: the first half of the key help.
    "                                      "
    "                                      "
    "                                      "
    "     ok, how to handle this baby:     "
    "                                      "
    "                                      "
    "    \xA7q\xA7 and \xA7" "esc\xA7 -- quit             "
    "    \xA7t\xA7 -- stop/continue textwriter   "
    "    \xA7" "d\xA7 -- turn on/off some infos     "
    "    \xA7m\xA7 -- turn on/off mousepointer   "
    "                                      "
    "                                      "
    "                                      "
    // Page 5: the second half of the key help.
    "                                      "
    "      something to play around:       "
    "                                      "
    "                                      "
    "  lmb/rmb -- add smoke to the screen  "
    "  cursor keys -- some wind            "
    "  \xA7" "1\xA7-\xA7" "0\xA7 -- change colors            "
    "                                      "
    "  (shift)\xA7" "c\xA7 -- less/more particles   "
    "                per mouseclick        "
    "                                      "
    "  (shift)\xA7l\xA7 -- less/more lifetime    "
    "                of those particles    "
    // Page 6: the light key, with a warning.
    "                                      "
    "                                      "
    "                                      "
    "     psst... one more key to try:     "
    "                                      "
    "                                      "
    " space -- experimental light routine. "
    "      !!!don\xA7t turn this on!!!        "
    "     it will make your pc crawl       "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    // Page 7: credits.
    "                                      "
    "               credits                "
    "                                      "
    "                                      "
    "    picture:  the nebla developers    "
    "                                      "
    "    font:     the nebla developers    "
    "                                      "
    "    code:     the nebla developers    "
    "                                      "
    "                                      "
    "   all made from scratch for nebla.   "
    "                                      "
    // Page 8: thanks and the signature.
    "                                      "
    "                thanks                "
    "                                      "
    "  thank you for watching, and thanks  "
    " to everyone who sends a bug report,  "
    "         an idea or a patch.          "
    "                                      "
    "       keep the smoke drifting!       "
    "                                      "
    "                                      "
    "                                      "
    "                       see you around,"
    "                  the nebla developers"
    // Page 9: left blank, so the last page dissolves into an empty screen.
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      "
    "                                      ";

const char GlyphTable[] = "abcdefghijklmnopqrstuvwxyz1234567890.,\xA7!:?/-%MT";

std::int32_t glyphIndex(char c) {
  for (std::size_t i = 0; i < kGlyphCount; ++i) {
    if (GlyphTable[i] == c) return static_cast<std::int32_t>(i);
  }
  return -1;
}

}  // namespace nebla::effects

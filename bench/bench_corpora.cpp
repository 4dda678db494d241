#include "bench_corpora.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace bench {
namespace {

constexpr size_t GENERATED_ENGLISH_SIZE = 4u << 20;
constexpr size_t GENERATED_RUNS_SIZE = 3u << 20;

// xorshift64*: the generators' only source of choices, so their output is the
// same on every machine and in every run.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint32_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<uint32_t>((state_ * 0x2545F4914F6CDD1DULL) >> 32);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>((uint64_t{next()} * n) >> 32); }
  bool chance(uint32_t percent) { return below(100) < percent; }
  // An index skewed towards the front of a list (the square of a uniform value),
  // so that early words recur as often as common words do.
  uint32_t skewed(uint32_t n) {
    const uint64_t u = next();
    return static_cast<uint32_t>((u * u >> 32) * n >> 32);
  }

 private:
  uint64_t state_;
};

template <size_t N>
using Words = std::array<std::string_view, N>;

// Each list in rough order of frequency (Random::skewed favours the front).
constexpr Words<24> determiners = {"the",   "a",     "his",  "her",  "their", "this", "that",  "every",
                                   "no",    "one",   "some", "our",  "its",   "each", "any",   "another",
                                   "those", "these", "my",   "your", "such",  "what", "whose", "either"};
constexpr Words<64> adjectives = {
    "old",     "little",  "great",  "long",    "young",    "dark",    "small",    "white",    "good",    "last",
    "strange", "quiet",   "cold",   "whole",   "heavy",    "poor",    "high",     "deep",     "narrow",  "grey",
    "bright",  "silent",  "broken", "empty",   "distant",  "wet",     "green",    "pale",     "warm",    "sudden",
    "open",    "same",    "early",  "true",    "careful",  "tired",   "red",      "rough",    "thin",    "gentle",
    "hidden",  "ancient", "bitter", "curious", "sharp",    "wild",    "slow",     "soft",     "proud",   "honest",
    "anxious", "wooden",  "golden", "black",   "familiar", "foreign", "peculiar", "restless", "patient", "hollow",
    "crooked", "solemn",  "faint",  "eager"};
constexpr Words<96> nouns = {
    "man",      "house",    "door",   "time",    "day",     "hand",    "night",   "room",     "way",     "eyes",
    "woman",    "face",     "road",   "voice",   "window",  "head",    "town",    "letter",   "river",   "world",
    "father",   "mother",   "light",  "garden",  "place",   "friend",  "boy",     "girl",     "morning", "evening",
    "table",    "fire",     "street", "moment",  "hour",    "captain", "doctor",  "stranger", "ship",    "sea",
    "wind",     "rain",     "field",  "horse",   "church",  "village", "master",  "servant",  "word",    "answer",
    "question", "book",     "paper",  "money",   "heart",   "mind",    "story",   "silence",  "stair",   "corner",
    "wall",     "bridge",   "lamp",   "coat",    "hat",     "box",     "key",     "carriage", "winter",  "summer",
    "year",     "family",   "child",  "brother", "sister",  "king",    "soldier", "farmer",   "judge",   "lawyer",
    "clerk",    "merchant", "inn",    "kitchen", "chair",   "bed",     "shadow",  "cloud",    "hill",    "forest",
    "path",     "gate",     "tower",  "harbour", "lantern", "promise"};
constexpr Words<56> verbs_past = {"saw",       "took",    "found",    "made",       "heard",   "knew",     "left",
                                  "held",      "opened",  "closed",   "followed",   "watched", "carried",  "brought",
                                  "met",       "called",  "turned",   "kept",       "lost",    "noticed",  "reached",
                                  "crossed",   "passed",  "gave",     "told",       "asked",   "answered", "remembered",
                                  "wanted",    "loved",   "feared",   "touched",    "pushed",  "pulled",   "raised",
                                  "dropped",   "read",    "wrote",    "signed",     "burned",  "examined", "described",
                                  "explained", "refused", "accepted", "discovered", "entered", "visited",  "shut",
                                  "lit",       "bought",  "sold",     "mended",     "painted", "counted",  "hid"};
constexpr Words<32> verbs_intransitive = {
    "walked",  "waited", "smiled",   "laughed",   "slept",    "stood",    "sat",       "ran",
    "spoke",   "paused", "listened", "hesitated", "returned", "vanished", "trembled",  "sighed",
    "nodded",  "wept",   "arrived",  "departed",  "rested",   "shouted",  "whispered", "lingered",
    "stopped", "fell",   "rose",     "turned",    "began",    "agreed",   "wondered",  "lived"};
constexpr Words<28> adverbs = {"slowly",  "again",   "quickly", "at last",  "softly",    "suddenly",       "once more",
                               "quietly", "often",   "never",   "still",    "sadly",     "carefully",      "at once",
                               "gladly",  "plainly", "barely",  "at night", "all day",   "with care",      "in silence",
                               "in vain", "alone",   "afresh",  "together", "for hours", "without a word", "anxiously"};
constexpr Words<24> prepositions = {"in",     "on",     "at",     "by",    "near",  "under",   "over",    "behind",
                                    "beside", "across", "before", "after", "along", "through", "towards", "against",
                                    "beyond", "within", "from",   "into",  "upon",  "around",  "below",   "among"};
constexpr Words<16> conjunctions = {"and",   "but",  "for", "so",      "yet", "while", "because", "although",
                                    "until", "when", "as",  "whereas", "or",  "since", "though",  "before"};
constexpr Words<20> pronouns = {"he",  "she",    "they",     "it",      "we",     "I",          "you",
                                "one", "nobody", "everyone", "someone", "no one", "the others", "both",
                                "all", "many",   "few",      "none",    "most",   "neither"};
constexpr Words<24> names = {"Mr. Holloway", "Mrs. Ashdown", "Martha", "Edward",   "Captain Reyne", "Dr. Lister",
                             "Agnes",        "Thomas",       "Eliza",  "Jonathan", "Miss Carew",    "Harriet",
                             "Old Pell",     "Samuel",       "Lucy",   "Arthur",   "Mrs. Gale",     "Walter",
                             "the Colonel",  "Clara",        "Peter",  "Hugh",     "Rosamund",      "the Vicar"};
constexpr Words<12> speech_verbs = {"said",     "replied", "asked",    "cried", "answered", "whispered",
                                    "muttered", "called",  "observed", "added", "returned", "began"};

template <size_t N>
std::string_view pick(Random& r, const Words<N>& list) {
  return list[r.skewed(N)];
}

// Builds the text a sentence at a time into words; `Prose` wraps them into lines.
class Prose {
 public:
  explicit Prose(Random& r) : r_(r) {}

  std::string paragraph() {
    std::string text;
    const uint32_t sentences = 2 + r_.below(7);
    for (uint32_t i = 0; i < sentences; ++i) {
      if (!text.empty()) text += ' ';
      text += r_.chance(12) ? dialogue() : sentence();
    }
    return text;
  }
  std::string heading(uint32_t chapter) {
    static constexpr std::array<std::string_view, 13> roman = {"M",  "CM", "D",  "CD", "C",  "XC", "L",
                                                               "XL", "X",  "IX", "V",  "IV", "I"};
    static constexpr std::array<uint32_t, 13> value = {1000, 900, 500, 400, 100, 90, 50, 40, 10, 9, 5, 4, 1};
    std::string text = "CHAPTER ";
    for (size_t i = 0; i < roman.size(); ++i)
      while (chapter >= value[i]) {
        text += roman[i];
        chapter -= value[i];
      }
    return text + ".";
  }

 private:
  std::string noun_phrase() {
    const uint32_t kind = r_.below(10);
    if (kind < 2) return std::string(pick(r_, pronouns));
    if (kind < 3) return std::string(pick(r_, names));
    std::string np(pick(r_, determiners));
    if (r_.chance(45)) np.append(" ").append(pick(r_, adjectives));
    if (r_.chance(10)) np.append(" and ").append(pick(r_, adjectives));
    np.append(" ").append(pick(r_, nouns));
    if (r_.chance(8)) np.append(" of ").append(pick(r_, names));
    return np;
  }
  std::string object_phrase() {
    if (r_.chance(6))
      return std::to_string(2 + r_.below(r_.chance(50) ? 20 : 2000)) + " " + std::string(pick(r_, nouns)) + "s";
    std::string np(pick(r_, determiners));
    if (r_.chance(40)) np.append(" ").append(pick(r_, adjectives));
    return np.append(" ").append(pick(r_, nouns));
  }
  std::string verb_phrase() {
    std::string vp;
    if (r_.chance(55)) {
      vp.append(pick(r_, verbs_past)).append(" ").append(object_phrase());
    } else {
      vp.append(pick(r_, verbs_intransitive));
    }
    if (r_.chance(35)) vp.append(" ").append(pick(r_, prepositions)).append(" ").append(object_phrase());
    if (r_.chance(25)) vp.append(" ").append(pick(r_, adverbs));
    return vp;
  }
  std::string clause() { return noun_phrase() + " " + verb_phrase(); }
  std::string sentence() {
    std::string s;
    const uint32_t shape = r_.below(10);
    if (shape < 5) {
      s = clause();
    } else if (shape < 8) {
      s = clause() + ", " + std::string(pick(r_, conjunctions)) + " " + clause();
    } else {
      s = std::string(pick(r_, prepositions)) + " " + object_phrase() + ", " + clause();
    }
    if (r_.chance(7)) s += "; " + clause();
    s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return s + (r_.chance(6) ? "!" : ".");
  }
  std::string dialogue() {
    std::string spoken = sentence();
    if (spoken.back() == '.') spoken.back() = r_.chance(40) ? '?' : ',';
    return "\"" + spoken + "\" " + std::string(pick(r_, speech_verbs)) + " " + std::string(pick(r_, names)) + ".";
  }

  Random& r_;
};

// Appends `text` wrapped at 72 columns, then a blank line.
void append_wrapped(Bytes& out, const std::string& text) {
  constexpr size_t WIDTH = 72;
  size_t line_start = 0;
  while (line_start < text.size()) {
    size_t end = line_start + WIDTH;
    if (end >= text.size()) {
      end = text.size();
    } else {
      const size_t space = text.rfind(' ', end);
      end = space != std::string::npos && space > line_start ? space : end;
    }
    out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(line_start),
               text.begin() + static_cast<std::ptrdiff_t>(end));
    out.push_back('\n');
    line_start = end;
    while (line_start < text.size() && text[line_start] == ' ') ++line_start;
  }
  out.push_back('\n');
}

}  // namespace

Bytes generated_english(size_t size) {
  Random r(0x6B766E2D656E67ULL);
  Prose prose(r);
  Bytes out;
  out.reserve(size + 4096);
  uint32_t chapter = 1;
  while (out.size() < size) {
    if (r.chance(3)) append_wrapped(out, prose.heading(chapter++));
    append_wrapped(out, prose.paragraph());
  }
  out.resize(size);
  return out;
}

Bytes generated_runs(size_t size) {
  Random r(0x6B766E2D72756EULL);
  Bytes out;
  out.reserve(size + 32);
  while (out.size() < size) {
    const uint32_t kind = r.below(10);
    if (kind < 6) {
      out.insert(out.end(), 2 + r.below(16), static_cast<uint8_t>(r.skewed(256)));
    } else if (kind < 9) {
      const uint32_t period = 2 + r.below(5);
      uint8_t pattern[6];
      for (uint32_t i = 0; i < period; ++i) pattern[i] = static_cast<uint8_t>(r.skewed(64));
      const uint32_t length = 4 + r.below(24);
      for (uint32_t i = 0; i < length; ++i) out.push_back(pattern[i % period]);
    } else {
      for (uint32_t n = 1 + r.below(3); n-- > 0;) out.push_back(static_cast<uint8_t>(r.next()));
    }
  }
  out.resize(size);
  return out;
}

std::vector<CorpusSource> corpus_sources() {
  std::vector<CorpusSource> list;
  if (const char* env = std::getenv("KVN_BENCH_CORPUS")) {
    const std::string_view s = env;
    size_t start = 0;
    while (start < s.size()) {
      size_t end = s.find(',', start);
      if (end == std::string_view::npos) end = s.size();
      const std::string_view item = s.substr(start, end - start);
      // "name=origin", or a bare path named after its file.
      const size_t eq = item.find('=');
      if (eq != std::string_view::npos)
        list.push_back({std::string(item.substr(0, eq)), std::string(item.substr(eq + 1))});
      else if (!item.empty())
        list.push_back({std::string(item.substr(item.find_last_of('/') + 1)), std::string(item)});
      start = end + 1;
    }
    return list;
  }
  const std::string wine = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
  return {{"kernelbase.dll", wine + "kernelbase.dll"},
          {"shell32.dll", wine + "shell32.dll"},
          {"msvcrt.dll", wine + "msvcrt.dll"},
          {"guice.jar", "/usr/share/java/guice.jar"},
          {"GPL-3", "/usr/share/common-licenses/GPL-3"},
          {"english", "generated:english"},
          {"short-runs", "generated:runs"}};
}

bool is_generated(const CorpusSource& source) { return source.origin.starts_with("generated:"); }

std::optional<Bytes> load_corpus(const CorpusSource& source) {
  if (source.origin == "generated:english") return generated_english(GENERATED_ENGLISH_SIZE);
  if (source.origin == "generated:runs") return generated_runs(GENERATED_RUNS_SIZE);
  std::ifstream in(source.origin, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.empty()) return std::nullopt;
  return data;
}

}  // namespace bench

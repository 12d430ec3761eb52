// Editing narrow, zero-terminated texts in place: filling message templates, replacing tags,
// trimming and the reversible one-byte scramble. Each operation that can lengthen a text is
// given the size of its buffer and never writes past it. A null text does nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace support {

// The work buffer of the template fillers: a filled template has at most 8,191 characters.
constexpr size_t kFormatWorkSize = 8192;

// Replaces every "%s" (either case) in `text` by `arg` and every "%%" by one '%'; other
// characters are copied. The result replaces `text`, cut at 8,191 characters or at size - 1,
// whichever comes first. A null argument counts as an empty text.
void FormatText(char* text, size_t size, const char* arg);
// As FormatText with three-character placeholders: '%', 's' (either case) and a selector;
// selector '2' takes `second`, any other `first`. A "%s" at the very end, without a selector,
// takes `first`.
void FormatText2(char* text, size_t size, const char* first, const char* second);
// As FormatText2; selector '3' takes `third`, '2' `second`, any other `first`.
void FormatText3(char* text, size_t size, const char* first, const char* second, const char* third);

// Replaces every "[name]" (name compared without regard to case) by `value`, scanning on after
// each inserted value, so a value holding the tag is not replaced again. Returns how many tags
// were replaced, or -1 when a replacement would not fit in `size` bytes: that tag and the rest
// of the text stay as they were, the tags before it are replaced.
int32_t ReplaceSquareTag(char* text, size_t size, const char* name, const char* value);
// The same for "<name>".
int32_t ReplaceAngleTag(char* text, size_t size, const char* name, const char* value);

// A text of at least two characters that begins and ends with '"' loses both quotes.
void StripQuotes(char* text);
// Removes leading and trailing blanks (code 32 only).
void TrimSpaces(char* text);

// The one-byte key of ToggleScramble. A byte equal to it becomes 0 and ends the text.
constexpr uint8_t kToggleScrambleKey = 0xA5;
// Combines every byte up to the terminator with kToggleScrambleKey; twice restores the text.
void ToggleScramble(char* text);

}  // namespace support

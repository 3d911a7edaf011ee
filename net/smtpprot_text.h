// Text helpers of the mail client: addresses taken from user-supplied names, header
// address lists, reply codes, the "Date:" value, the CRAM answers and the rules that
// keep message text and command values from ending a command or the DATA phase early.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace qv::smtp {

// The bare address of "Name <a@b>", "\"Name\" a@b", "Name a@b" or "a@b"; empty for a
// single word without "@".
std::string ParseAddress(std::string_view Text);

// Items of a header address list separated by "," or ";" outside double quotes,
// trimmed, empty ones dropped.
std::vector<std::string> SplitAddressList(std::string_view Text);

// Header lines for one address field: "To: a," then "\tb" (a comma ends every address
// but the last).
std::vector<std::string> AddressHeaderLines(std::string_view FieldName, std::string_view List);

struct ReplyCode {
  int Code = 0;               // the number at the start, 0 without one
  bool HasNumber = false;     // digits were found
  bool Continuation = false;  // a "-" follows the number
};
ReplyCode ParseReplyCode(std::string_view Line);

// "Sun, 6 Dec 2026 17:45:13 GMT" for a UTC time.
std::string MailDate(std::time_t Utc);

// Lower-case hexadecimal HMAC over the challenge; keys longer than a block are hashed
// first, as RFC 2104 requires.
std::string HmacMd5Hex(std::string_view Key, std::string_view Data);
std::string HmacSha1Hex(std::string_view Key, std::string_view Data);

// True when the text holds CR, LF or NUL: such a value would end a command line.
bool HasLineBreak(std::string_view Text);

// One line of message text as it goes on the wire: cut at every CR, LF or CR LF it
// holds, each piece with a leading "." doubled.
std::vector<std::string> DataWireLines(std::string_view Line);

}  // namespace qv::smtp

#include "platform/ui/virtual_keys.h"

namespace qv {

namespace {

struct KeysymEntry {
  std::uint32_t keysym;
  unsigned vk;
};

// Keysyms outside the printable Latin-1 range that have a virtual key.
constexpr KeysymEntry kFunctionKeys[] = {
    {0xFF08, VK_BACK},     {0xFF09, VK_TAB},       {0xFE20, VK_TAB},  // ISO_Left_Tab
    {0xFF0B, VK_CLEAR},    {0xFF0D, VK_RETURN},    {0xFF13, VK_PAUSE},    {0xFF14, VK_SCROLL},
    {0xFF15, VK_SNAPSHOT}, {0xFF1B, VK_ESCAPE},    {0xFF50, VK_HOME},     {0xFF51, VK_LEFT},
    {0xFF52, VK_UP},       {0xFF53, VK_RIGHT},     {0xFF54, VK_DOWN},     {0xFF55, VK_PRIOR},
    {0xFF56, VK_NEXT},     {0xFF57, VK_END},       {0xFF60, VK_SELECT},   {0xFF61, VK_SNAPSHOT},
    {0xFF63, VK_INSERT},   {0xFF67, VK_APPS},      {0xFF6A, VK_HELP},     {0xFF6B, VK_CANCEL},
    {0xFF7F, VK_NUMLOCK},  {0xFF8D, VK_RETURN},  // KP_Enter
    {0xFF95, VK_HOME},     {0xFF96, VK_LEFT},      {0xFF97, VK_UP},       {0xFF98, VK_RIGHT},
    {0xFF99, VK_DOWN},     {0xFF9A, VK_PRIOR},     {0xFF9B, VK_NEXT},     {0xFF9C, VK_END},
    {0xFF9D, VK_CLEAR},    {0xFF9E, VK_INSERT},    {0xFF9F, VK_DELETE},   {0xFFAA, VK_MULTIPLY},
    {0xFFAB, VK_ADD},      {0xFFAC, VK_SEPARATOR}, {0xFFAD, VK_SUBTRACT}, {0xFFAE, VK_DECIMAL},
    {0xFFAF, VK_DIVIDE},   {0xFFE1, VK_SHIFT},     {0xFFE2, VK_SHIFT},    {0xFFE3, VK_CONTROL},
    {0xFFE4, VK_CONTROL},  {0xFFE5, VK_CAPITAL},   {0xFFE9, VK_MENU},     {0xFFEA, VK_MENU},
    {0xFE03, VK_MENU},  // ISO_Level3_Shift (AltGr)
    {0xFFEB, VK_LWIN},     {0xFFEC, VK_RWIN},      {0xFFFF, VK_DELETE},
};

}  // namespace

unsigned VirtualKeyFromKeysym(std::uint32_t keysym) {
  if (keysym >= 'a' && keysym <= 'z') return keysym - 'a' + 'A';
  if ((keysym >= 'A' && keysym <= 'Z') || (keysym >= '0' && keysym <= '9')) return keysym;
  switch (keysym) {
    case ' ':
      return VK_SPACE;
    case ';':
    case ':':
      return VK_OEM_1;
    case '=':
    case '+':
      return VK_OEM_PLUS;
    case ',':
    case '<':
      return VK_OEM_COMMA;
    case '-':
    case '_':
      return VK_OEM_MINUS;
    case '.':
    case '>':
      return VK_OEM_PERIOD;
    case '/':
    case '?':
      return VK_OEM_2;
    case '`':
    case '~':
      return VK_OEM_3;
    case '[':
    case '{':
      return VK_OEM_4;
    case '\\':
    case '|':
      return VK_OEM_5;
    case ']':
    case '}':
      return VK_OEM_6;
    case '\'':
    case '"':
      return VK_OEM_7;
    // Shifted digits on a US layout still name the digit key.
    case '!':
      return '1';
    case '@':
      return '2';
    case '#':
      return '3';
    case '$':
      return '4';
    case '%':
      return '5';
    case '^':
      return '6';
    case '&':
      return '7';
    case '*':
      return '8';
    case '(':
      return '9';
    case ')':
      return '0';
    default:
      break;
  }
  // Latin-1 letters with accents: the platform gives them layout-specific OEM codes; we
  // report none rather than guess, their characters still come through WM_CHAR.
  if (keysym >= 0xFFB0 && keysym <= 0xFFB9) return VK_NUMPAD0 + (keysym - 0xFFB0);  // KP_0..9
  if (keysym >= 0xFFBE && keysym <= 0xFFD5) return VK_F1 + (keysym - 0xFFBE);       // F1..F24
  for (const auto& entry : kFunctionKeys) {
    if (entry.keysym == keysym) return entry.vk;
  }
  return 0;
}

bool IsExtendedKey(unsigned vk) {
  switch (vk) {
    case VK_INSERT:
    case VK_DELETE:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_DIVIDE:
    case VK_NUMLOCK:
    case VK_RCONTROL:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_APPS:
    case VK_SNAPSHOT:
      return true;
    default:
      return false;
  }
}

}  // namespace qv

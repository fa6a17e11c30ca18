// The ANSI code page, the wide command line and the conversion of wide text to a code page.
#include <string.h>

#include "machine.h"
#include "sim_win32.h"

using namespace sim;

namespace sim {

// What code page 1252 writes by best fit: a character it lacks, shown as one it has.
static int BestFit1252(char16_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFEE0;  // full-width ASCII: "＂" as '"'
  if (c >= 0x0100 && c <= 0x0105) return (c & 1) ? 'a' : 'A';  // A with macron, breve, ogonek
  if (c == 0x0141) return 'L';
  if (c == 0x2215) return '/';  // division slash
  return -1;
}

static void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    *out += (char)c;
  } else if (c < 0x800) {
    *out += (char)(0xC0 | (c >> 6));
    *out += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += (char)(0xE0 | (c >> 12));
    *out += (char)(0x80 | ((c >> 6) & 0x3F));
    *out += (char)(0x80 | (c & 0x3F));
  } else {
    *out += (char)(0xF0 | (c >> 18));
    *out += (char)(0x80 | ((c >> 12) & 0x3F));
    *out += (char)(0x80 | ((c >> 6) & 0x3F));
    *out += (char)(0x80 | (c & 0x3F));
  }
}

// UTF-16 to UTF-8 or to 1252; `lone` counts the unpaired surrogates met.
static std::string Convert(const std::u16string& text, UINT codePage, bool noBestFit,
                           char defaultChar, bool* usedDefault, int* lone) {
  std::string out;
  *usedDefault = false;
  *lone = 0;
  for (size_t i = 0; i < text.size(); i++) {
    char16_t c = text[i];
    bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF;
    bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    if (codePage == CP_UTF8) {
      if (pair) {
        AppendUtf8(&out, 0x10000 + (((uint32_t)c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
        i++;
      } else if (surrogate) {
        ++*lone;
        AppendUtf8(&out, 0xFFFD);
      } else {
        AppendUtf8(&out, c);
      }
      continue;
    }
    // A character beyond the Basic Multilingual Plane is two units, and two default
    // characters (as Wine writes it).
    int fit = noBestFit || surrogate ? -1 : BestFit1252(c);
    if (c <= 0xFF) {
      out += (char)c;
    } else if (fit >= 0) {
      out += (char)fit;
    } else {
      out += defaultChar;
      *usedDefault = true;
    }
  }
  return out;
}

std::string ToCodePage(const std::u16string& text, UINT codePage, bool noBestFit,
                       bool* usedDefault) {
  int lone = 0;
  return Convert(text, codePage, noBestFit, '?', usedDefault, &lone);
}

std::vector<std::string> ArgumentsOf(const std::u16string& commandLine) {
  bool usedDefault = false;
  std::string s = ToCodePage(commandLine, M().ansiCodePage, false, &usedDefault);
  size_t n = s.size(), i = 0;
  std::vector<std::string> args;
  // The program name: quotes group, backslashes are plain.
  std::string arg;
  bool quoted = false;
  for (; i < n && (quoted || (s[i] != ' ' && s[i] != '\t')); i++) {
    if (s[i] == '"')
      quoted = !quoted;
    else
      arg += s[i];
  }
  args.push_back(arg);
  for (;;) {
    while (i < n && (s[i] == ' ' || s[i] == '\t')) i++;
    if (i >= n) break;
    arg.clear();
    quoted = false;
    while (i < n && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
      if (s[i] == '\\') {
        size_t slashes = 0;
        while (i < n && s[i] == '\\') slashes++, i++;
        if (i < n && s[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) arg += s[i++];  // an escaped quote
        } else {
          arg.append(slashes, '\\');
        }
      } else if (s[i] == '"') {
        if (quoted && i + 1 < n && s[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          i++;
        }
      } else {
        arg += s[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

std::u16string FromUtf8(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char b = (unsigned char)text[i];
    size_t length = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
                                  : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    uint32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    bool good = length > 0 && i + length <= text.size();
    for (size_t k = 1; good && k < length; k++) {
      good = ((unsigned char)text[i + k] & 0xC0) == 0x80;
      c = (c << 6) | ((unsigned char)text[i + k] & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (good) good = c >= kLeast[length] && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
    if (!good) {
      out += (char16_t)0xFFFD;
      i++;
      continue;
    }
    if (c >= 0x10000) {
      out += (char16_t)(0xD800 + ((c - 0x10000) >> 10));
      out += (char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += (char16_t)c;
    }
    i += length;
  }
  return out;
}

std::u16string CommandLineOf(const std::vector<std::string>& args) {
  std::u16string line;
  for (size_t a = 0; a < args.size(); a++) {
    const std::string& arg = args[a];
    bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
    if (a > 0) line += u' ';
    if (quote) line += u'"';
    if (M().ansiCodePage == CP_UTF8)
      line += FromUtf8(arg);
    else
      for (char c : arg) line += (char16_t)(unsigned char)c;
    if (quote) line += u'"';
  }
  return line;
}

}  // namespace sim

UINT GetACP(void) {
  SIM_CALL({});
  return M().ansiCodePage;
}

// The line lives as long as the process: Windows hands out the same buffer on every call.
LPWSTR GetCommandLineW(void) {
  SIM_CALL({});
  static std::vector<WCHAR> line;
  line.assign(M().commandLine.begin(), M().commandLine.end());
  line.push_back(0);
  return line.data();
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  SIM_CALL({Dec(CodePage), Hex(dwFlags), Ptr(lpWideCharStr), Dec(cchWideChar), Ptr(lpMultiByteStr),
            Dec(cbMultiByte), Ptr(lpDefaultChar), Ptr(lpUsedDefaultChar)});
  if (call.Faulted()) return 0;
  Machine& m = M();
  UINT page = CodePage == CP_ACP ? m.ansiCodePage : CodePage;
  bool valid = lpWideCharStr && cchWideChar != 0 && cchWideChar >= -1 && cbMultiByte >= 0 &&
               (cbMultiByte == 0 || lpMultiByteStr) && (page == 1252 || page == CP_UTF8);
  // UTF-8 has no default character to report.
  if (valid && page == CP_UTF8) valid = !lpDefaultChar && !lpUsedDefaultChar;
  if (!valid) return Fail(ERROR_INVALID_PARAMETER);
  DWORD allowed = page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  if (dwFlags & ~allowed) return Fail(ERROR_INVALID_FLAGS);
  std::u16string text;
  if (cchWideChar == -1) {
    size_t length = 0;
    while (lpWideCharStr[length]) length++;
    text.assign(lpWideCharStr, lpWideCharStr + length + 1);  // the NUL too
  } else {
    text.assign(lpWideCharStr, lpWideCharStr + cchWideChar);
  }
  bool usedDefault = false;
  int lone = 0;
  std::string out = Convert(text, page, (dwFlags & WC_NO_BEST_FIT_CHARS) != 0,
                            lpDefaultChar ? lpDefaultChar[0] : '?', &usedDefault, &lone);
  if (lpUsedDefaultChar) *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
  if (lone > 0 && (dwFlags & WC_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (cbMultiByte == 0) return (int)out.size();
  // Windows fills what fits before it reports the shortage.
  memcpy(lpMultiByteStr, out.data(), out.size() < (size_t)cbMultiByte ? out.size() : (size_t)cbMultiByte);
  if (out.size() > (size_t)cbMultiByte) return Fail(ERROR_INSUFFICIENT_BUFFER);
  return (int)out.size();
}

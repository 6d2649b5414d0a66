// ui_driver: drives brelvane-setup.exe from outside for the Wine scenarios.
//
// Each command line argument is one command; without arguments the commands
// are read from standard input, one a line.  Every command prints one line
// (or one line per row) on standard output; a command that fails prints
// "ERROR ..." and makes the driver's exit status 1, but later commands still
// run so that a scenario sees everything that went wrong.
//
// Commands (ID is a control id, looked up in the sheet's active page first,
// then in the sheet itself):
//   wait-window CAPTION [SECONDS]   find the sheet by caption (default 10 s)
//   text ID | visible ID | enabled ID | checked ID
//   click ID | check ID (tick when unticked) | set-text ID TEXT
//   wait-text ID SUBSTRING [SECONDS]
//   page N | page-count | current-page | page-title
//   list-rows ID | list-select ID ROW
//   combo-select ID INDEX | combo-items ID
//   wait-box [SUBSTRING] [SECONDS]  a visible dialog box other than the sheet
//   no-box [SECONDS]                  fails if a box appears within SECONDS
//   answer-box IDOK|IDCANCEL|IDYES|IDNO
//   box-text ID                       a control's text in the last box found
//   file-dialog PATH [SECONDS]        types PATH into the open file dialog, presses OK
//   window-exists CAPTION             1 when a dialog window has that caption
//   wait-gone [SECONDS]               waits until the sheet's window is gone
//   watch-run SUBSTRING [SECONDS]     after " Install ": polls the sheet every 50 ms
//                                     until a box with SUBSTRING shows; prints
//                                     whether it answered WM_NULL within a second
//                                     each time, how the bar (1040) moved, the file
//                                     line's texts (1041), and whether the buttons and tabs
//                                     stayed disabled from the run's start
//   try-leave                         once a run has started (Install disabled), posts
//                                     what Alt+F4 or the close box, a
//                                     tab and Enter send the sheet
//   box-owner                         whether the last box is owned by the sheet and
//                                     shown by the sheet's thread
//   rect                              the sheet's window width and height
//   dpi-change DPI FROM               sends the sheet WM_DPICHANGED for DPI, suggesting its
//                                     rectangle scaled by DPI/FROM; prints both rectangles
//   column-width ID                   the width of a list view's first column
//   line-height ID                    the pixels between the first two lines of a
//                                     multi-line edit (its font's line height)
//   side-picture                      the bounding box of the side picture's colours in
//                                     the sheet's client area (from the screen's pixels),
//                                     the client size, and the active page's right edge
//   capture FILE.bmp | capture-box FILE.bmp
//   sleep MILLISECONDS
//   key NAME                          posts a key to the control with the focus in the
//                                     sheet's thread, as the keyboard would reach the
//                                     dialog manager there: down, up, left, right, tab,
//                                     space, enter, or alt+LETTER (an access key)
//   focus                             the id of the control with the focus, whether it
//                                     shows and whether it lies in the active page
//   placement                         whether the sheet is centred on its display's work
//                                     area, and the last box found lies over the sheet
//   hold-open PATH | release          opens the file sharing with nobody, as a program
//                                     that runs from it does; release closes it
//   device-arrival LETTER             announces a volume of that letter to the sheet as
//                                     the system does when a drive is plugged in
//   run-watch COMMAND LINE            starts the program (standard handles inherited),
//                                     polls every 20 ms until it exits and prints a
//                                     WINDOW line for every top-level window of its
//                                     process, visible or not, then "EXIT code"
//                                     (killed after 60 s: ERROR)
// The builder's list and combos (clicks are posted mouse messages):
//   header-click ID COLUMN            clicks a list view's column header
//   cell-click ID ROW COLUMN          clicks a list view's cell
//   selected-rows ID                  the list view's selected rows
//   wait-rows ID COUNT [SECONDS]      waits until the list view holds COUNT rows
//   column-fit ID                     each column's width in percent of its heading's
//                                     width in the list's own font
//   combo-fit ID                      for each choice, the pixels its text leaves free
//                                     at the right of the combo's field (0: clipped)
//   tab-order                         the active page's controls in the order Tab visits them
//   answers-start | answers-stop      polls the sheet with WM_NULL every 20 ms from a
//                                     thread of its own in between; the stop prints the
//                                     slowest answer and how many took over a second
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <prsht.h>
#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kDialogClass[] = "#32770";
constexpr int kMessageBoxTextId = 0xFFFF;

HWND g_sheet = nullptr;
HWND g_box = nullptr;
bool g_failed = false;

void Say(const std::string& line) { std::cout << line << std::endl; }
void Fail(const std::string& what) {
  g_failed = true;
  Say("ERROR " + what);
}

// CR and LF shown as the two-character escapes so that each answer is one line.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// Texts cross this program as UTF-8: commands come from the wide command
// line, answers are printed in UTF-8, so names outside the ANSI code page
// survive both ways.
std::string Utf8(const wchar_t* text) {
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), length, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(length - 1));
  return out;
}

std::wstring Wide(const std::string& text) {
  int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), length);
  out.resize(static_cast<std::size_t>(length - 1));
  return out;
}

std::string WindowText(HWND window) {
  wchar_t buffer[8192] = {};
  GetWindowTextW(window, buffer, 8192);
  return Utf8(buffer);
}

std::string ClassName(HWND window) {
  char buffer[256] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

double Seconds(const std::string& text, double fallback) {
  if (text.empty()) return fallback;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  return (end && *end == '\0') ? value : fallback;
}

bool IsNumber(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return end && *end == '\0';
}

// Splits "a b c" into the first word and the rest.
std::pair<std::string, std::string> Split(const std::string& line) {
  auto space = line.find(' ');
  if (space == std::string::npos) return {line, ""};
  return {line.substr(0, space), line.substr(space + 1)};
}

// Splits off a trailing number ("TEXT 5" -> {"TEXT", "5"}).
std::pair<std::string, std::string> SplitTrailingNumber(const std::string& rest) {
  auto space = rest.rfind(' ');
  if (space != std::string::npos && IsNumber(rest.substr(space + 1))) {
    return {rest.substr(0, space), rest.substr(space + 1)};
  }
  if (IsNumber(rest)) return {"", rest};
  return {rest, ""};
}

HWND CurrentPage() {
  if (!g_sheet) return nullptr;
  return reinterpret_cast<HWND>(SendMessageA(g_sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

HWND Control(int id) {
  if (!g_sheet || !IsWindow(g_sheet)) {
    Fail("no sheet");
    return nullptr;
  }
  if (HWND page = CurrentPage()) {
    if (HWND control = GetDlgItem(page, id)) return control;
  }
  if (HWND control = GetDlgItem(g_sheet, id)) return control;
  Fail("no control " + std::to_string(id));
  return nullptr;
}

int ParseId(const std::string& text) {
  return static_cast<int>(std::strtol(text.c_str(), nullptr, 0));
}

// Visible top-level dialog boxes other than the sheet.
struct BoxSearch {
  std::string substring;
  HWND found = nullptr;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  if (window == g_sheet || !IsWindowVisible(window)) return TRUE;
  if (ClassName(window) != kDialogClass) return TRUE;
  HWND label = GetDlgItem(window, kMessageBoxTextId);
  std::string text = label ? WindowText(label) : "";
  if (!search->substring.empty() && text.find(search->substring) == std::string::npos &&
      WindowText(window).find(search->substring) == std::string::npos) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

HWND FindBox(const std::string& substring) {
  BoxSearch search{substring};
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void DescribeBox(HWND box) {
  HWND label = GetDlgItem(box, kMessageBoxTextId);
  Say("BOX caption=" + WindowText(box) + " text=" + OneLine(label ? WindowText(label) : ""));
}

// Each line of the box's text that its label wraps, measured as the box
// lays it out (the system's message font, the label's width): "WRAPS line".
void BoxWraps() {
  HWND label = g_box ? GetDlgItem(g_box, kMessageBoxTextId) : nullptr;
  if (label == nullptr) return Fail("box-wraps wants a box");
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  HDC dc = GetDC(nullptr);
  HGDIOBJ before = SelectObject(dc, font);
  RECT client;
  GetClientRect(label, &client);
  const std::string text = WindowText(label);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::wstring line = Wide(text.substr(start, end - start));
    RECT one = {0, 0, client.right, 0};
    RECT wrapped = one;
    DrawTextW(dc, L"X", 1, &one, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &wrapped,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    if (!line.empty() && wrapped.bottom > one.bottom)
      Say("WRAPS " + text.substr(start, end - start));
    start = end + 2;
  }
  SelectObject(dc, before);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  Say("MEASURED");
}

// ---- Cross-process list view access -------------------------------------

class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, std::size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) {
      address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
  }
  ~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  bool ok() const { return address_ != nullptr; }
  char* address() const { return static_cast<char*>(address_); }
  bool Write(std::size_t offset, const void* data, std::size_t size) {
    SIZE_T written = 0;
    return WriteProcessMemory(process_, address() + offset, data, size, &written) &&
           written == size;
  }
  bool Read(std::size_t offset, void* data, std::size_t size) {
    SIZE_T read = 0;
    return ReadProcessMemory(process_, address() + offset, data, size, &read) && read == size;
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  std::size_t size_;
};

std::string ListCell(HWND list, RemoteBuffer& remote, int row, int column) {
  constexpr std::size_t kTextOffset = 256;
  constexpr int kTextSize = 1024;
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = remote.address() + kTextOffset;
  item.cchTextMax = kTextSize;
  if (!remote.Write(0, &item, sizeof item)) return "";
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote.address()));
  char text[kTextSize + 1] = {};
  remote.Read(kTextOffset, text, kTextSize);
  return text;
}

void ListRows(int id) {
  HWND list = Control(id);
  if (!list) return;
  RemoteBuffer remote(list, 4096);
  if (!remote.ok()) return Fail("cannot reach the list's process");
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  int columns = header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  Say("ROWS " + std::to_string(rows));
  for (int row = 0; row < rows; ++row) {
    std::string line = "ROW";
    for (int column = 0; column < columns; ++column) {
      line += '|';
      line += ListCell(list, remote, row, column);
    }
    Say(line);
  }
}

void ListSelect(int id, int row) {
  HWND list = Control(id);
  if (!list) return;
  RemoteBuffer remote(list, sizeof(LVITEMA));
  if (!remote.ok()) return Fail("cannot reach the list's process");
  LVITEMA item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  remote.Write(0, &item, sizeof item);
  bool ok = SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote.address()));
  if (!ok) return Fail("cannot select row " + std::to_string(row));
  Say("SELECTED " + std::to_string(row));
}

// ---- Screenshots ------------------------------------------------------------

bool WriteBitmap(const std::string& path, HDC source, int width, int height) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  int stride = ((width * 3 + 3) / 4) * 4;
  std::vector<char> pixels(static_cast<std::size_t>(stride) * height);
  HDC memory = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);

  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  return static_cast<bool>(out);
}

// Copies the window as it stands on the screen.
void Capture(HWND window, const std::string& path) {
  if (!window || !IsWindow(window)) return Fail("nothing to capture");
  RECT rect;
  GetWindowRect(window, &rect);
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(300);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  bool ok = WriteBitmap(path, memory, width, height);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!ok) return Fail("cannot write " + path);
  Say("CAPTURED " + path + " " + std::to_string(width) + "x" + std::to_string(height));
}

// ---- Scaled displays -----------------------------------------------------------

// The driver sees physical pixels, whatever the DPI awareness of the program
// it measures (an unaware process would see an aware window's rectangle
// scaled down to 96 DPI).  Looked up at run time, as the program does.
void SeePhysicalPixels() {
  using SetContext = HANDLE(WINAPI*)(HANDLE);
  const auto set = reinterpret_cast<SetContext>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
  const auto perMonitorAware = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));
  if (set) set(perMonitorAware);
}

std::string RectText(const RECT& rect) {
  return std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
         std::to_string(rect.right - rect.left) + " " + std::to_string(rect.bottom - rect.top);
}

// The suggested rectangle keeps the sheet's top left corner and scales its
// size by DPI / FROM, as the system does for a move between displays.
void DpiChange(const std::string& rest) {
  std::istringstream in(rest);
  int dpi = 0, from = 0;
  if (!(in >> dpi >> from) || from <= 0) return Fail("dpi-change DPI FROM");
  RECT suggested;
  GetWindowRect(g_sheet, &suggested);
  suggested.right = suggested.left + MulDiv(suggested.right - suggested.left, dpi, from);
  suggested.bottom = suggested.top + MulDiv(suggested.bottom - suggested.top, dpi, from);
  // The message's rectangle must lie in the program's memory: Wine does not
  // carry it across processes.
  RemoteBuffer remote(g_sheet, sizeof suggested);
  if (!remote.ok() || !remote.Write(0, &suggested, sizeof suggested)) {
    return Fail("cannot reach the sheet's process");
  }
  SendMessageA(g_sheet, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
               reinterpret_cast<LPARAM>(remote.address()));
  Sleep(200);
  RECT placed;
  GetWindowRect(g_sheet, &placed);
  Say("SUGGESTED " + RectText(suggested));
  Say("PLACED " + RectText(placed));
}

// The side picture is a blue to teal gradient (res/make_art.sh): a pixel of
// it has little red, more green and much more blue; the sheet's greys, the
// agreement's near-white and the black text have none such.
bool IsPictureColour(const RGBQUAD& pixel) {
  return pixel.rgbRed < 100 && pixel.rgbGreen > pixel.rgbRed + 25 &&
         pixel.rgbBlue > pixel.rgbRed + 40;
}

void SidePicture() {
  RECT client;
  GetClientRect(g_sheet, &client);
  POINT origin = {0, 0};
  ClientToScreen(g_sheet, &origin);
  const int width = client.right, height = client.bottom;
  RedrawWindow(g_sheet, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(300);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  RECT box = {width, height, 0, 0};
  const auto* pixels = static_cast<const RGBQUAD*>(bits);
  for (int y = 0; pixels && y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (!IsPictureColour(pixels[static_cast<std::size_t>(y) * width + x])) continue;
      box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
             std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (box.right <= box.left) return Fail("no side picture");
  RECT page = {};
  GetWindowRect(CurrentPage(), &page);
  MapWindowPoints(nullptr, g_sheet, reinterpret_cast<POINT*>(&page), 2);
  Say("PICTURE " + RectText(box) + " CLIENT " + std::to_string(width) + " " +
      std::to_string(height) + " PAGE-RIGHT " + std::to_string(page.right));
}

// ---- Commands ---------------------------------------------------------------

void WaitWindow(const std::string& rest) {
  auto [caption, seconds] = SplitTrailingNumber(rest);
  DWORD deadline = GetTickCount() + static_cast<DWORD>(Seconds(seconds, 10) * 1000);
  do {
    HWND window = FindWindowA(kDialogClass, caption.c_str());
    if (window && IsWindowVisible(window)) {
      g_sheet = window;
      Sleep(200);  // let the first activation finish
      Say("WINDOW " + caption);
      return;
    }
    Sleep(50);
  } while (GetTickCount() < deadline);
  Fail("no window " + caption);
}

void WaitBox(const std::string& rest) {
  auto [substring, seconds] = SplitTrailingNumber(rest);
  DWORD deadline = GetTickCount() + static_cast<DWORD>(Seconds(seconds, 10) * 1000);
  do {
    if (HWND box = FindBox(substring)) {
      g_box = box;
      Sleep(100);
      DescribeBox(box);
      return;
    }
    Sleep(50);
  } while (GetTickCount() < deadline);
  Fail("no box " + substring);
}

void NoBox(const std::string& rest) {
  DWORD deadline = GetTickCount() + static_cast<DWORD>(Seconds(rest, 1) * 1000);
  do {
    if (HWND box = FindBox("")) {
      g_failed = true;
      std::cout << "ERROR unexpected ";
      DescribeBox(box);
      return;
    }
    Sleep(50);
  } while (GetTickCount() < deadline);
  Say("NO-BOX");
}

void AnswerBox(const std::string& rest) {
  static const std::pair<const char*, int> kAnswers[] = {
      {"IDOK", IDOK}, {"IDCANCEL", IDCANCEL}, {"IDYES", IDYES}, {"IDNO", IDNO}};
  int answer = 0;
  for (auto [name, id] : kAnswers) {
    if (rest == name) answer = id;
  }
  if (!answer) return Fail("unknown answer " + rest);
  HWND box = (g_box && IsWindow(g_box) && IsWindowVisible(g_box)) ? g_box : FindBox("");
  if (!box) return Fail("no box to answer");
  HWND button = GetDlgItem(box, answer);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  g_box = nullptr;
  // The box is gone once the program has handled the answer.
  DWORD deadline = GetTickCount() + 5000;
  while (IsWindow(box) && IsWindowVisible(box) && GetTickCount() < deadline) Sleep(20);
  Sleep(100);
  Say("ANSWERED " + rest);
}

// The common file dialog's file name box: the explorer style's combo box,
// or the old style's edit.
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;

BOOL CALLBACK CollectFileDialog(HWND window, LPARAM param) {
  if (!IsWindowVisible(window) || ClassName(window) != kDialogClass) return TRUE;
  if (!GetDlgItem(window, kFileNameCombo) && !GetDlgItem(window, kFileNameEdit)) return TRUE;
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

void FileDialog(const std::string& rest) {
  auto [path, seconds] = SplitTrailingNumber(rest);
  DWORD deadline = GetTickCount() + static_cast<DWORD>(Seconds(seconds, 10) * 1000);
  HWND dialog = nullptr;
  while (!dialog && GetTickCount() < deadline) {
    EnumWindows(CollectFileDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) Sleep(50);
  }
  if (!dialog) return Fail("no file dialog");
  Sleep(200);
  HWND name = GetDlgItem(dialog, kFileNameCombo);
  if (!name) name = GetDlgItem(dialog, kFileNameEdit);
  SetWindowTextW(name, Wide(path).c_str());
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  Sleep(300);
  Say("FILE " + path);
}

void WaitGone(const std::string& rest) {
  DWORD deadline = GetTickCount() + static_cast<DWORD>(Seconds(rest, 10) * 1000);
  while (g_sheet && IsWindow(g_sheet) && GetTickCount() < deadline) Sleep(50);
  if (g_sheet && IsWindow(g_sheet)) return Fail("sheet still open");
  Say("GONE");
}

// ---- Watching a run --------------------------------------------------------

constexpr UINT kAnswerWithin = 1000;  // milliseconds, the longest a poll may wait
constexpr int kProgressBarId = 1040;
constexpr int kProgressFileId = 1041;

// A message sent with the time limit; false when the window did not answer
// within it.
bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
  return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kAnswerWithin, result) !=
         0;
}

// What the polls of one run saw.
struct RunWatch {
  int polls = 0;
  int unanswered = 0;
  DWORD slowest = 0;
  bool started = false;  // the Install button was seen disabled
  int enabledAfterStart = 0;
  std::vector<int> bar;  // each position that differs from the one before
  int barRange = 0;
  std::vector<std::string> files;  // each text of the file line that differs from the one before

  void Poll(HWND page, HWND tabs) {
    ++polls;
    const DWORD before = GetTickCount();
    DWORD_PTR answer = 0;
    const bool answered = SendWithin(g_sheet, WM_NULL, 0, 0, &answer);
    const DWORD took = GetTickCount() - before;
    slowest = std::max(slowest, took);
    if (!answered || took > kAnswerWithin) ++unanswered;
    // Cancel stays: it asks whether to stop after the file being written.
    const bool anyEnabled = IsWindowEnabled(GetDlgItem(g_sheet, IDOK)) || IsWindowEnabled(tabs);
    if (!IsWindowEnabled(GetDlgItem(g_sheet, IDOK))) started = true;
    if (started && anyEnabled) ++enabledAfterStart;
    ReadBar(page);
    if (HWND line = GetDlgItem(page, kProgressFileId)) {
      const std::string text = WindowText(line);
      if (!text.empty() && IsWindowVisible(line) && (files.empty() || files.back() != text)) {
        files.push_back(text);
      }
    }
  }

  void ReadBar(HWND page) {
    HWND control = GetDlgItem(page, kProgressBarId);
    DWORD_PTR position = 0, range = 0;
    if (!control || !SendWithin(control, PBM_GETPOS, 0, 0, &position) ||
        !SendWithin(control, PBM_GETRANGE, FALSE, 0, &range)) {
      return;
    }
    barRange = static_cast<int>(range);
    if (bar.empty() || bar.back() != static_cast<int>(position)) {
      bar.push_back(static_cast<int>(position));
    }
  }

  // Rises: never goes back, passes through at least one step between empty
  // and full, and ends full.
  bool BarRisesToFull() const {
    if (bar.size() < 2 || barRange <= 0 || bar.back() != barRange) return false;
    bool between = false;
    for (std::size_t i = 0; i < bar.size(); ++i) {
      if (i > 0 && bar[i] < bar[i - 1]) return false;
      if (bar[i] > 0 && bar[i] < barRange) between = true;
    }
    return between;
  }

  void Report() const {
    std::string positions;
    for (int position : bar) positions += " " + std::to_string(position);
    Say("RUN polls=" + std::to_string(polls) + " slowest=" + std::to_string(slowest) +
        "ms range=" + std::to_string(barRange) + " bar:" + positions);
    Say(unanswered == 0 ? std::string("RUN ANSWERED")
                        : "RUN UNANSWERED " + std::to_string(unanswered));
    Say(BarRisesToFull() ? "RUN BAR RISES TO FULL" : "RUN BAR STUCK");
    Say(!started                 ? std::string("RUN BUTTONS NEVER DISABLED")
        : enabledAfterStart == 0 ? std::string("RUN BUTTONS DISABLED")
                                 : "RUN BUTTONS ENABLED " + std::to_string(enabledAfterStart));
    std::string named;
    for (const std::string& file : files) named += (named.empty() ? "" : " | ") + file;
    Say("RUN FILES " + named);
  }
};

void WatchRun(const std::string& rest) {
  auto [substring, seconds] = SplitTrailingNumber(rest);
  if (!g_sheet || !IsWindow(g_sheet)) return Fail("watch-run: no sheet");
  RunWatch watch;
  DWORD_PTR page = 0, tabs = 0;
  // Found with the time limit: a sheet that does not answer is what is watched for.
  if (!SendWithin(g_sheet, PSM_GETCURRENTPAGEHWND, 0, 0, &page) ||
      !SendWithin(g_sheet, PSM_GETTABCONTROL, 0, 0, &tabs)) {
    ++watch.unanswered;
  }
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(Seconds(seconds, 120) * 1000);
  HWND box = nullptr;
  while (!box && IsWindow(g_sheet) && GetTickCount() < deadline) {
    watch.Poll(reinterpret_cast<HWND>(page), reinterpret_cast<HWND>(tabs));
    box = FindBox(substring);
    if (!box) Sleep(50);
  }
  // The bar as the box finds it: the run's last step.
  if (box) watch.ReadBar(reinterpret_cast<HWND>(page));
  watch.Report();
  if (!box) return Fail("no box " + substring);
  g_box = box;
  Sleep(100);
  DescribeBox(box);
}

void TryLeave() {
  HWND install = GetDlgItem(g_sheet, IDOK);
  const DWORD deadline = GetTickCount() + 5000;
  while (IsWindowEnabled(install) && GetTickCount() < deadline) Sleep(10);
  if (IsWindowEnabled(install)) return Fail("try-leave: no run started");
  PostMessageA(g_sheet, WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageA(g_sheet, WM_CLOSE, 0, 0);
  PostMessageA(g_sheet, PSM_SETCURSEL, 0, 0);
  PostMessageA(g_sheet, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(install));
  Say("TRIED");
}

void BoxOwner() {
  HWND box = (g_box && IsWindow(g_box)) ? g_box : FindBox("");
  if (!box || !g_sheet) return Fail("box-owner: no box or no sheet");
  const bool owned = GetWindow(box, GW_OWNER) == g_sheet;
  const bool sameThread =
      GetWindowThreadProcessId(box, nullptr) == GetWindowThreadProcessId(g_sheet, nullptr);
  Say(std::string("BOX-OWNER ") + (owned ? "sheet" : "other") +
      " thread=" + (sameThread ? "sheet" : "other"));
}

void WaitText(const std::string& rest) {
  auto [id_text, tail] = Split(rest);
  auto [substring, seconds] = SplitTrailingNumber(tail);
  HWND control = Control(ParseId(id_text));
  if (!control) return;
  DWORD deadline = GetTickCount() + static_cast<DWORD>(Seconds(seconds, 5) * 1000);
  std::string text;
  do {
    text = WindowText(control);
    if (text.find(substring) != std::string::npos) {
      Say("TEXT " + OneLine(text));
      return;
    }
    Sleep(50);
  } while (GetTickCount() < deadline);
  Fail("text of " + id_text + " is " + OneLine(text));
}

void ComboItems(int id) {
  HWND combo = Control(id);
  if (!combo) return;
  int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  std::string line = "ITEMS";
  for (int i = 0; i < count; ++i) {
    // CB_GETLBTEXT is marshalled across processes by the system; Wine does
    // it right for the wide form only.
    wchar_t wide[256] = {};
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
    char text[512] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    line += '|';
    line += text;
  }
  line += " SELECTED " + std::to_string(SendMessageA(combo, CB_GETCURSEL, 0, 0));
  Say(line);
}

// The top-level windows of one process not yet reported.
struct WindowWatch {
  DWORD process = 0;
  std::vector<HWND> seen;
  bool answerBoxes = false;  // a message box is read, reported and closed with OK
};

BOOL CALLBACK ReportNewWindow(HWND window, LPARAM context) {
  auto* watch = reinterpret_cast<WindowWatch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != watch->process) return TRUE;
  if (std::find(watch->seen.begin(), watch->seen.end(), window) != watch->seen.end()) return TRUE;
  char className[128] = {};
  GetClassNameA(window, className, sizeof className);
  if (watch->answerBoxes && std::string(className) == "#32770") {
    // A box is read once it shows, then answered.
    if (!IsWindowVisible(window)) return TRUE;
    watch->seen.push_back(window);
    HWND label = GetDlgItem(window, 0xFFFF);
    Say("BOX caption=" + WindowText(window) + " text=" + OneLine(label ? WindowText(label) : ""));
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
  }
  watch->seen.push_back(window);
  Say(std::string("WINDOW class=") + className + " visible=" +
      (IsWindowVisible(window) ? "1" : "0") + " title=" + OneLine(WindowText(window)));
  return TRUE;
}

void RunWatch(const std::string& commandLine, bool answerBoxes = false) {
  std::wstring line = Wide(commandLine);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  std::cout.flush();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return Fail("cannot start " + commandLine);
  }
  WindowWatch watch;
  watch.process = process.dwProcessId;
  watch.answerBoxes = answerBoxes;
  bool exited = false;
  for (int polls = 0; polls < 3000 && !exited; ++polls) {
    EnumWindows(ReportNewWindow, reinterpret_cast<LPARAM>(&watch));
    exited = WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0;
  }
  if (!exited) {
    TerminateProcess(process.hProcess, 124);
    WaitForSingleObject(process.hProcess, 5000);
    Fail("still running after 60 s: " + commandLine);
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Say("EXIT " + std::to_string(code));
}

// ---- Keyboard, placement and device announcements --------------------------

HWND FocusOfSheetThread() {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(g_sheet, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// The key goes down, then up once the program has taken the down (and the
// character its message loop makes of it), in the order a keyboard gives.
void PostKey(HWND target, WPARAM key) {
  PostMessageA(target, WM_KEYDOWN, key, 1);
  Sleep(100);
  PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

void Key(const std::string& name) {
  HWND target = FocusOfSheetThread();
  if (!target) target = g_sheet;
  const std::pair<const char*, WPARAM> keys[] = {
      {"down", VK_DOWN}, {"up", VK_UP},       {"left", VK_LEFT},   {"right", VK_RIGHT},
      {"tab", VK_TAB},   {"space", VK_SPACE}, {"enter", VK_RETURN}};
  bool known = false;
  for (const auto& [keyName, key] : keys) {
    if (name == keyName) {
      PostKey(target, key);
      known = true;
    }
  }
  if (name.size() == 5 && name.rfind("alt+", 0) == 0) {
    // The character an access key gives, with the context bit of Alt held.
    PostMessageA(target, WM_SYSCHAR, static_cast<WPARAM>(std::tolower(name[4])), 1 | (1 << 29));
    known = true;
  }
  if (!known) return Fail("unknown key " + name);
  Sleep(200);
  Say("KEY " + name);
}

void Focus() {
  HWND focus = FocusOfSheetThread();
  if (!focus) return Say("FOCUS none");
  Say("FOCUS id=" + std::to_string(GetDlgCtrlID(focus)) +
      " shown=" + (IsWindowVisible(focus) ? "1" : "0") +
      " in-page=" + (IsChild(CurrentPage(), focus) ? "1" : "0"));
}

bool Centred(const RECT& inner, const RECT& outer) {
  const auto gap = [](LONG a, LONG b, LONG c, LONG d) { return std::abs((a + b) - (c + d)); };
  return gap(inner.left, inner.right, outer.left, outer.right) <= 2 &&
         gap(inner.top, inner.bottom, outer.top, outer.bottom) <= 2;
}

void Placement() {
  RECT sheet;
  GetWindowRect(g_sheet, &sheet);
  MONITORINFO display = {};
  display.cbSize = sizeof display;
  GetMonitorInfoA(MonitorFromWindow(g_sheet, MONITOR_DEFAULTTOPRIMARY), &display);
  Say(std::string("CENTRED ") + (Centred(sheet, display.rcWork) ? "1" : "0") + " sheet " +
      RectText(sheet) + " area " + RectText(display.rcWork));
  if (!g_box || !IsWindow(g_box)) return;
  RECT box;
  GetWindowRect(g_box, &box);
  const POINT middle = {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
  Say(std::string("BOX-OVER-SHEET ") + (PtInRect(&sheet, middle) ? "1" : "0"));
}

HANDLE g_held = INVALID_HANDLE_VALUE;

// Holds a named mutex as any program can, for as long as the driver runs.
void HoldName(const std::string& name) {
  static HANDLE held = nullptr;
  held = CreateMutexW(nullptr, TRUE, Wide(name).c_str());
  if (held == nullptr) return Fail("cannot hold the name " + name);
  Say("HELD-NAME " + name);
}

void HoldOpen(const std::string& path) {
  g_held = CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (g_held == INVALID_HANDLE_VALUE) return Fail("cannot hold " + path);
  Say("HELD " + path);
}

void Release() {
  if (g_held != INVALID_HANDLE_VALUE) CloseHandle(g_held);
  g_held = INVALID_HANDLE_VALUE;
  Say("RELEASED");
}

// The colour a control shows in its lower right corner (the background of
// a status line, whose text starts at its left), and which system colour
// that is: "BACKGROUND id active-border", "... window" or "... other RRGGBB".
void Background(int id) {
  HWND control = Control(id);
  if (!control) return;
  RECT rect;
  GetWindowRect(control, &rect);
  HDC screen = GetDC(nullptr);
  const COLORREF pixel = GetPixel(screen, rect.right - 3, rect.bottom - 3);
  ReleaseDC(nullptr, screen);
  std::string which = "other";
  if (pixel == GetSysColor(COLOR_ACTIVEBORDER)) which = "active-border";
  else if (pixel == GetSysColor(COLOR_WINDOW)) which = "window";
  char hex[8];
  std::snprintf(hex, sizeof hex, "%06lX", static_cast<unsigned long>(pixel));
  Say("BACKGROUND " + std::to_string(id) + " " + which +
      (which == "other" ? " " + std::string(hex) : ""));
}

// Hands a step to the test's shell, which does what no Windows program can
// (pulling a drive out): leaves C:\handshake-NAME for it and waits until the
// shell has removed it.
void Handshake(const std::string& name) {
  const std::wstring marker = Wide("C:\\handshake-" + name);
  CloseHandle(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  for (int i = 0; i < 600; ++i) {
    if (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
      return Say("HANDSHAKE " + name);
    }
    Sleep(50);
  }
  Fail("the shell took no handshake " + name + " within 30 s");
}

void DeviceArrival(const std::string& letter) {
  if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0]))) {
    return Fail("device-arrival wants a drive letter");
  }
  DEV_BROADCAST_VOLUME volume = {};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << (std::toupper(letter[0]) - 'A');
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(g_sheet, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                           reinterpret_cast<LPARAM>(&volume), SMTO_ABORTIFHUNG, 5000, &result)) {
    return Fail("the sheet took no device announcement");
  }
  Say("ANNOUNCED " + letter);
}

// ---- The builder's list and combos ---------------------------------------------

// A press and release of the left button at a client point of the window.
void ClickAt(HWND window, POINT at) {
  const LPARAM where = MAKELPARAM(at.x, at.y);
  PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
  PostMessageA(window, WM_LBUTTONUP, 0, where);
  Sleep(150);
}

// A rectangle that a message fills in the program's memory, seeded with
// `seed`; false when it comes back empty.
bool RemoteRect(HWND window, UINT message, WPARAM wParam, RECT seed, RECT* out) {
  RemoteBuffer remote(window, sizeof seed);
  DWORD_PTR result = 0;
  return remote.ok() && remote.Write(0, &seed, sizeof seed) &&
         SendWithin(window, message, wParam, reinterpret_cast<LPARAM>(remote.address()), &result) &&
         remote.Read(0, out, sizeof *out) && !IsRectEmpty(out);
}

POINT Centre(const RECT& rect) {
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void HeaderClick(HWND list, int column) {
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  RECT item = {};
  if (!header || !RemoteRect(header, HDM_GETITEMRECT, column, {}, &item))
    return Fail("no header item " + std::to_string(column));
  ClickAt(header, Centre(item));
  Say("HEADER-CLICKED " + std::to_string(column));
}

void CellClick(HWND list, int row, int column) {
  RECT cell = {};
  if (!RemoteRect(list, LVM_GETSUBITEMRECT, row, {LVIR_BOUNDS, column, 0, 0}, &cell))
    return Fail("no cell " + std::to_string(row) + " " + std::to_string(column));
  ClickAt(list, Centre(cell));
  Say("CELL-CLICKED " + std::to_string(row) + " " + std::to_string(column));
}

void SelectedRows(HWND list) {
  std::string line = "SELECTED-ROWS";
  int row = -1;
  while ((row = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >= 0)
    line += " " + std::to_string(row);
  Say(line);
}

void WaitRows(HWND list, int count, int seconds) {
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds > 0 ? seconds : 30) * 1000;
  DWORD_PTR rows = 0;
  do {
    if (SendWithin(list, LVM_GETITEMCOUNT, 0, 0, &rows) && static_cast<int>(rows) == count)
      return Say("ROWS " + std::to_string(count));
    Sleep(50);
  } while (GetTickCount() < deadline);
  Fail("the list holds " + std::to_string(rows) + " rows");
}

void ColumnFit(HWND list) {
  constexpr std::size_t kTextAt = 256;
  RemoteBuffer remote(list, 512);
  if (!remote.ok()) return Fail("cannot reach the list's process");
  std::string line = "COLUMN-FIT";
  for (int column = 0;; ++column) {
    LVCOLUMNA entry = {};
    entry.mask = LVCF_TEXT;
    entry.pszText = remote.address() + kTextAt;
    entry.cchTextMax = 200;
    remote.Write(0, &entry, sizeof entry);
    if (!SendMessageA(list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(remote.address())))
      break;
    const auto text = SendMessageA(list, LVM_GETSTRINGWIDTHA, 0,
                                   reinterpret_cast<LPARAM>(remote.address() + kTextAt));
    const auto width = SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0);
    line += " " + std::to_string(text > 0 ? 100 * width / text : 0);
  }
  Say(line);
}

// The free columns of pixels between a choice's last dark pixel and the right
// edge of the field it is drawn in, read from the screen.
int FreeAtRight(HWND field, const RECT& area) {
  POINT origin = {area.left, area.top};
  ClientToScreen(field, &origin);
  HDC screen = GetDC(nullptr);
  int free = 0;
  for (int x = area.right - area.left - 1; x >= 0; --x, ++free) {
    for (int y = 0; y < area.bottom - area.top; ++y) {
      const COLORREF pixel = GetPixel(screen, origin.x + x, origin.y + y);
      if (GetRValue(pixel) < 128 && GetGValue(pixel) < 128 && GetBValue(pixel) < 128) {
        ReleaseDC(nullptr, screen);
        return free;
      }
    }
  }
  ReleaseDC(nullptr, screen);
  return free;
}

void ComboFit(HWND combo) {
  COMBOBOXINFO info = {};
  info.cbSize = sizeof info;
  RemoteBuffer remote(combo, sizeof info);
  DWORD_PTR done = 0;
  if (!remote.ok() || !remote.Write(0, &info, sizeof info) ||
      !SendWithin(combo, CB_GETCOMBOBOXINFO, 0, reinterpret_cast<LPARAM>(remote.address()),
                  &done) ||
      !remote.Read(0, &info, sizeof info)) {
    return Fail("no combo box info");
  }
  // An editable combo draws its text in its edit's formatting rectangle.
  HWND field = info.hwndItem != nullptr ? info.hwndItem : combo;
  RECT area = info.rcItem;
  // A message below WM_USER: the system carries its rectangle across.
  DWORD_PTR unused = 0;
  if (field != combo) SendWithin(field, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area), &unused);
  std::string line = "COMBO-FIT";
  const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  for (int choice = 0; choice < count; ++choice) {
    SendMessageA(combo, CB_SETCURSEL, choice, 0);
    RedrawWindow(combo, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(100);
    if (field == combo) {
      line += " " + std::to_string(FreeAtRight(field, area));
      continue;
    }
    // The choice ends where a blank typed behind it would begin.
    wchar_t text[64] = {};
    const auto length = SendMessageW(field, WM_GETTEXT, 62, reinterpret_cast<LPARAM>(text));
    text[length] = L' ';
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    const auto end = static_cast<short>(LOWORD(SendMessageA(field, EM_POSFROMCHAR, length, 0)));
    line += " " + std::to_string(area.right - end);
  }
  SendMessageA(combo, CB_SETCURSEL, 0, 0);
  Say(line);
}

// Polls the sheet from a thread of its own, so that the steps between its
// start and its stop are timed as a user meets them.
struct AnswerWatch {
  std::atomic<bool> stop{false};
  std::atomic<DWORD> slowest{0};
  std::atomic<int> polls{0}, unanswered{0};
  std::thread poller;

  void Start(HWND sheet) {
    Finish();
    stop = false;
    slowest = 0;
    polls = unanswered = 0;
    poller = std::thread([this, sheet] {
      while (!stop) {
        const DWORD before = GetTickCount();
        DWORD_PTR answer = 0;
        if (!SendWithin(sheet, WM_NULL, 0, 0, &answer)) ++unanswered;
        slowest = std::max<DWORD>(slowest, GetTickCount() - before);
        ++polls;
        Sleep(20);
      }
    });
  }
  void Finish() {
    stop = true;
    if (poller.joinable()) poller.join();
  }
};
AnswerWatch g_answers;

void TabOrder(HWND page) {
  std::string line = "TAB-ORDER";
  HWND first = GetNextDlgTabItem(page, nullptr, FALSE);
  for (HWND control = first; control != nullptr;) {
    line += " " + std::to_string(GetDlgCtrlID(control));
    control = GetNextDlgTabItem(page, control, FALSE);
    if (control == first) break;
  }
  Say(line);
}

// The commands of this block; false for any other.
bool RunBuilderCommand(const std::string& command, const std::string& rest) {
  if (command == "tab-order") {
    TabOrder(CurrentPage());
    return true;
  }
  if (command == "answers-start") {
    g_answers.Start(g_sheet);
    Say("ANSWERS-START");
    return true;
  }
  if (command == "answers-stop") {
    g_answers.Finish();
    Say("ANSWERS polls=" + std::to_string(g_answers.polls) +
        " slowest=" + std::to_string(g_answers.slowest) +
        "ms unanswered=" + std::to_string(g_answers.unanswered));
    return true;
  }
  static const char* const kCommands[] = {"header-click", "cell-click", "selected-rows",
                                          "wait-rows",    "column-fit", "combo-fit"};
  if (std::find(std::begin(kCommands), std::end(kCommands), command) == std::end(kCommands))
    return false;
  auto [id_text, argument] = Split(rest);
  HWND control = Control(ParseId(id_text));
  if (!control) return true;
  std::istringstream numbers(argument);
  int first = 0, second = 0;
  numbers >> first >> second;
  if (command == "header-click") HeaderClick(control, first);
  if (command == "cell-click") CellClick(control, first, second);
  if (command == "selected-rows") SelectedRows(control);
  if (command == "wait-rows") WaitRows(control, first, second);
  if (command == "column-fit") ColumnFit(control);
  if (command == "combo-fit") ComboFit(control);
  return true;
}

// A step of a script: its name, and what it does with the rest of its line.
struct Step {
  const char* name;
  void (*run)(const std::string& rest);
};

HWND CurrentBox() { return (g_box && IsWindow(g_box)) ? g_box : FindBox(""); }
HWND Tabs() { return reinterpret_cast<HWND>(SendMessageA(g_sheet, PSM_GETTABCONTROL, 0, 0)); }

// The steps that need no sheet: boxes, windows, files and runs.
constexpr Step kFreeSteps[] = {
    {"wait-window", [](const std::string& rest) { WaitWindow(rest); }},
    {"wait-box", [](const std::string& rest) { WaitBox(rest); }},
    {"no-box", [](const std::string& rest) { NoBox(rest); }},
    {"answer-box", [](const std::string& rest) { AnswerBox(rest); }},
    {"wait-gone", [](const std::string& rest) { WaitGone(rest); }},
    {"wait-text", [](const std::string& rest) { WaitText(rest); }},
    {"file-dialog", [](const std::string& rest) { FileDialog(rest); }},
    {"watch-run", [](const std::string& rest) { WatchRun(rest); }},
    {"box-owner", [](const std::string&) { BoxOwner(); }},
    {"try-leave", [](const std::string&) { TryLeave(); }},
    {"run-watch", [](const std::string& rest) { RunWatch(rest); }},
    {"run-answer", [](const std::string& rest) { RunWatch(rest, true); }},
    {"hold-name", [](const std::string& rest) { HoldName(rest); }},
    {"box-text",
     [](const std::string& rest) {
       HWND box = CurrentBox();
       HWND control = box ? GetDlgItem(box, ParseId(rest)) : nullptr;
       if (!control) return Fail("no box control " + rest);
       Say("BOXTEXT " + OneLine(WindowText(control)));
     }},
    {"window-exists",
     [](const std::string& rest) {
       Say(std::string("EXISTS ") + (FindWindowA(kDialogClass, rest.c_str()) ? "1" : "0"));
     }},
    {"sleep", [](const std::string& rest) { Sleep(static_cast<DWORD>(std::atoi(rest.c_str()))); }},
    {"hold-open", [](const std::string& rest) { HoldOpen(rest); }},
    {"release", [](const std::string&) { Release(); }},
    {"capture-box", [](const std::string& rest) { Capture(CurrentBox(), rest); }},
};

// The steps on the sheet as a whole: keys, pages, its place and size.
constexpr Step kSheetSteps[] = {
    {"capture", [](const std::string& rest) { Capture(g_sheet, rest); }},
    {"key", [](const std::string& rest) { Key(rest); }},
    {"focus", [](const std::string&) { Focus(); }},
    {"placement", [](const std::string&) { Placement(); }},
    {"device-arrival", [](const std::string& rest) { DeviceArrival(rest); }},
    {"handshake", [](const std::string& rest) { Handshake(rest); }},
    {"box-wraps", [](const std::string&) { BoxWraps(); }},
    {"dpi-change", [](const std::string& rest) { DpiChange(rest); }},
    {"side-picture", [](const std::string&) { SidePicture(); }},
    {"rect",
     [](const std::string&) {
       RECT rect;
       GetWindowRect(g_sheet, &rect);
       Say("RECT " + std::to_string(rect.right - rect.left) + "x" +
           std::to_string(rect.bottom - rect.top));
     }},
    {"enter",
     [](const std::string&) {
       // What Enter sends in a dialog: its default button's command, even
       // when that button is hidden.
       PostMessageA(g_sheet, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                    reinterpret_cast<LPARAM>(GetDlgItem(g_sheet, IDOK)));
       Sleep(150);
       Say("ENTERED");
     }},
    {"page",
     [](const std::string& rest) {
       SendMessageA(g_sheet, PSM_SETCURSEL, std::atoi(rest.c_str()), 0);
       Sleep(100);
       Say("PAGE " + rest);
     }},
    {"page-count",
     [](const std::string&) {
       Say("PAGES " + std::to_string(SendMessageA(Tabs(), TCM_GETITEMCOUNT, 0, 0)));
     }},
    {"current-page",
     [](const std::string&) {
       Say("CURRENT " + std::to_string(SendMessageA(Tabs(), TCM_GETCURSEL, 0, 0)));
     }},
    {"page-title", [](const std::string&) { Say("TITLE " + WindowText(CurrentPage())); }},
    {"tab-style",
     [](const std::string&) {
       const LONG style = GetWindowLongA(Tabs(), GWL_STYLE);
       Say(std::string("TABS ") + ((style & TCS_BOTTOM) ? "bottom" : "top"));
     }},
};

// A step on one control: the control, and the rest of the line after its id.
struct ControlStep {
  const char* name;
  void (*run)(HWND control, const std::string& id, const std::string& argument);
};

int ButtonCheck(HWND control) { return static_cast<int>(SendMessageA(control, BM_GETCHECK, 0, 0)); }

constexpr ControlStep kControlSteps[] = {
    {"column-width",
     [](HWND control, const std::string&, const std::string&) {
       Say("COLUMN-WIDTH " + std::to_string(SendMessageA(control, LVM_GETCOLUMNWIDTH, 0, 0)));
     }},
    {"line-height",
     [](HWND control, const std::string&, const std::string&) {
       const auto second = SendMessageA(control, EM_LINEINDEX, 1, 0);
       const auto top = [control](LRESULT index) {
         return static_cast<int>(HIWORD(SendMessageA(control, EM_POSFROMCHAR, index, 0)));
       };
       Say("LINE-HEIGHT " + std::to_string(top(second) - top(0)));
     }},
    {"background",
     [](HWND, const std::string& id, const std::string&) { Background(ParseId(id)); }},
    {"text", [](HWND control, const std::string&,
                const std::string&) { Say("TEXT " + OneLine(WindowText(control))); }},
    {"visible",
     [](HWND control, const std::string&, const std::string&) {
       Say(std::string("VISIBLE ") + (IsWindowVisible(control) ? "1" : "0"));
     }},
    {"enabled",
     [](HWND control, const std::string&, const std::string&) {
       Say(std::string("ENABLED ") + (IsWindowEnabled(control) ? "1" : "0"));
     }},
    {"wait-enabled",
     [](HWND control, const std::string&, const std::string&) {
       // A page gives its buttons back once its run has ended, which may be
       // a moment after the run's last box has closed.
       const DWORD deadline = GetTickCount() + 5000;
       while (!IsWindowEnabled(control) && GetTickCount() < deadline) Sleep(50);
       Say(std::string("ENABLED ") + (IsWindowEnabled(control) ? "1" : "0"));
     }},
    {"checked", [](HWND control, const std::string&,
                   const std::string&) { Say("CHECKED " + std::to_string(ButtonCheck(control))); }},
    {"click",
     [](HWND control, const std::string& id, const std::string&) {
       PostMessageA(control, BM_CLICK, 0, 0);
       Sleep(150);
       Say("CLICKED " + id);
     }},
    {"check",
     [](HWND control, const std::string&, const std::string&) {
       if (ButtonCheck(control) != BST_CHECKED) {
         PostMessageA(control, BM_CLICK, 0, 0);
         Sleep(150);
       }
       Say("CHECKED " + std::to_string(ButtonCheck(control)));
     }},
    {"set-text",
     [](HWND control, const std::string& id, const std::string& argument) {
       SetWindowTextW(control, Wide(argument).c_str());
       Sleep(50);
       Say("SET " + id);
     }},
    {"combo-select",
     [](HWND control, const std::string& id, const std::string& argument) {
       SendMessageA(control, CB_SETCURSEL, std::atoi(argument.c_str()), 0);
       Say("COMBO " + id + " " + argument);
     }},
};

template <typename Table>
bool RunStep(const Table& steps, const std::string& command, const std::string& rest) {
  for (const Step& step : steps) {
    if (command == step.name) {
      step.run(rest);
      return true;
    }
  }
  return false;
}

void RunControlStep(const std::string& command, const std::string& rest) {
  auto [id_text, argument] = Split(rest);
  const int id = ParseId(id_text);
  if (command == "list-rows") return ListRows(id);
  if (command == "list-select") return ListSelect(id, std::atoi(argument.c_str()));
  if (command == "combo-items") return ComboItems(id);
  for (const ControlStep& step : kControlSteps) {
    if (command == step.name) {
      if (HWND control = Control(id)) step.run(control, id_text, argument);
      return;
    }
  }
  Fail("unknown command " + command);
}

void Run(const std::string& raw) {
  std::string line = raw;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
    line.pop_back();
  if (line.empty() || line[0] == '#') return;
  auto [command, rest] = Split(line);
  if (RunStep(kFreeSteps, command, rest)) return;
  if (!g_sheet || !IsWindow(g_sheet)) return Fail(command + ": no sheet");
  if (RunBuilderCommand(command, rest)) return;
  if (RunStep(kSheetSteps, command, rest)) return;
  RunControlStep(command, rest);
}

}  // namespace

int main() {
  SeePhysicalPixels();
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv != nullptr && argc > 1) {
    for (int i = 1; i < argc; ++i) Run(Utf8(argv[i]));
  } else {
    std::string line;
    while (std::getline(std::cin, line)) Run(line);
  }
  if (argv != nullptr) LocalFree(argv);
  g_answers.Finish();
  return g_failed ? 1 : 0;
}

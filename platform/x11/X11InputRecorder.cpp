#include "platform/x11/X11InputRecorder.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <cerrno>

#include "base/LastError.h"
#include "platform/x11/X11ErrorTrap.h"

namespace framory {
namespace {

using namespace InputMessages;

// The wire layout of a core device event: type, then detail (keycode or
// button number).
constexpr int kTypeMask = 0x7F;

struct KeyEntry {
  unsigned long keysym;
  std::uint8_t vk;
};

// Keys other than letters, digits and function keys.
constexpr KeyEntry kKeyTable[] = {
    {XK_BackSpace, 0x08},    {XK_Tab, 0x09},         {XK_ISO_Left_Tab, 0x09},
    {XK_Clear, 0x0C},        {XK_Return, 0x0D},      {XK_KP_Enter, 0x0D},
    {XK_Shift_L, 0x10},      {XK_Shift_R, 0x10},     {XK_Control_L, 0x11},
    {XK_Control_R, 0x11},    {XK_Alt_L, 0x12},       {XK_Alt_R, 0x12},
    {XK_Meta_L, 0x12},       {XK_Meta_R, 0x12},      {XK_ISO_Level3_Shift, 0x12},
    {XK_Pause, 0x13},        {XK_Caps_Lock, 0x14},   {XK_Escape, 0x1B},
    {XK_space, 0x20},        {XK_KP_Space, 0x20},    {XK_Prior, 0x21},
    {XK_KP_Prior, 0x21},     {XK_Next, 0x22},        {XK_KP_Next, 0x22},
    {XK_End, 0x23},          {XK_KP_End, 0x23},      {XK_Home, 0x24},
    {XK_KP_Home, 0x24},      {XK_Left, 0x25},        {XK_KP_Left, 0x25},
    {XK_Up, 0x26},           {XK_KP_Up, 0x26},       {XK_Right, 0x27},
    {XK_KP_Right, 0x27},     {XK_Down, 0x28},        {XK_KP_Down, 0x28},
    {XK_Select, 0x29},       {XK_Print, 0x2C},       {XK_Sys_Req, 0x2C},
    {XK_Execute, 0x2B},      {XK_Insert, 0x2D},      {XK_KP_Insert, 0x2D},
    {XK_Delete, 0x2E},       {XK_KP_Delete, 0x2E},   {XK_Help, 0x2F},
    {XK_Super_L, 0x5B},      {XK_Super_R, 0x5C},     {XK_Menu, 0x5D},
    {XK_KP_Begin, 0x0C},     {XK_KP_Multiply, 0x6A}, {XK_KP_Add, 0x6B},
    {XK_KP_Separator, 0x6C}, {XK_KP_Subtract, 0x6D}, {XK_KP_Decimal, 0x6E},
    {XK_KP_Divide, 0x6F},    {XK_Num_Lock, 0x90},    {XK_Scroll_Lock, 0x91},
    {XK_semicolon, 0xBA},    {XK_equal, 0xBB},       {XK_comma, 0xBC},
    {XK_minus, 0xBD},        {XK_period, 0xBE},      {XK_slash, 0xBF},
    {XK_grave, 0xC0},        {XK_bracketleft, 0xDB}, {XK_backslash, 0xDC},
    {XK_bracketright, 0xDD}, {XK_apostrophe, 0xDE},  {XK_less, 0xE2},
    {XK_Break, 0x03},
};

bool IsAlt(unsigned long keysym) {
  return keysym == XK_Alt_L || keysym == XK_Alt_R || keysym == XK_Meta_L || keysym == XK_Meta_R;
}

}  // namespace

std::uint8_t X11InputRecorder::VirtualKeyOf(unsigned long keysym) {
  if (keysym >= XK_a && keysym <= XK_z) return static_cast<std::uint8_t>('A' + (keysym - XK_a));
  if (keysym >= XK_A && keysym <= XK_Z) return static_cast<std::uint8_t>(keysym);
  if (keysym >= XK_0 && keysym <= XK_9) return static_cast<std::uint8_t>(keysym);
  if (keysym >= XK_KP_0 && keysym <= XK_KP_9) {
    return static_cast<std::uint8_t>(0x60 + (keysym - XK_KP_0));
  }
  if (keysym >= XK_F1 && keysym <= XK_F24) {
    return static_cast<std::uint8_t>(0x70 + (keysym - XK_F1));
  }
  for (const KeyEntry& entry : kKeyTable) {
    if (entry.keysym == keysym) return entry.vk;
  }
  return 0;
}

std::optional<InputEvent> X11InputRecorder::TranslateKey(unsigned long keysym, bool press,
                                                         bool ctrlDown, bool altDown) {
  std::uint8_t vk = VirtualKeyOf(keysym);
  if (vk == 0) return std::nullopt;
  // Ctrl+Pause is the Break key.
  if (vk == 0x13 && ctrlDown) vk = VirtualKeys::Cancel;
  // As on the desktop this design comes from: Alt alone, keys pressed while
  // Alt is held without Ctrl, and F10 are "system" keys.
  const bool system = !ctrlDown && (altDown || IsAlt(keysym) || keysym == XK_F10);
  std::uint32_t message = press ? KeyDown : KeyUp;
  if (system) message = press ? SysKeyDown : SysKeyUp;
  return InputEvent{message, vk};
}

std::optional<InputEvent> X11InputRecorder::TranslateButton(unsigned button, bool press) {
  switch (button) {
    case 1:
      return InputEvent{press ? LButtonDown : LButtonUp, 0};
    case 2:
      return InputEvent{press ? MButtonDown : MButtonUp, 0};
    case 3:
      return InputEvent{press ? RButtonDown : RButtonUp, 0};
    default:
      return std::nullopt;  // wheel (4 to 7) and extra buttons
  }
}

X11InputRecorder::X11InputRecorder(SocketWatch& watch, std::string displayName)
    : watch_(watch), displayName_(std::move(displayName)) {}

X11InputRecorder::~X11InputRecorder() {
  sink_ = nullptr;
  Teardown();
}

bool X11InputRecorder::Install(InputEventSink& sink) {
  if (sink_ != nullptr) return true;
  control_ = std::make_unique<X11Connection>(displayName_);
  data_ = std::make_unique<X11Connection>(displayName_);
  if (!control_->Valid() || !data_->Valid()) {
    Teardown();
    SetLastError(ECONNREFUSED);
    return false;
  }
  int major = 0;
  int minor = 0;
  if (!XRecordQueryVersion(control_->display(), &major, &minor)) {
    Teardown();
    SetLastError(ENOSYS);
    return false;
  }
  LoadKeymap();

  XRecordRange* range = XRecordAllocRange();
  if (range == nullptr) {
    Teardown();
    SetLastError(ENOMEM);
    return false;
  }
  range->device_events.first = KeyPress;
  range->device_events.last = ButtonRelease;
  XRecordClientSpec clients = XRecordAllClients;
  {
    X11ErrorTrap trap(control_->display());
    context_ = XRecordCreateContext(control_->display(), 0, &clients, 1, &range, 1);
    if (trap.Failed() || context_ == 0) {
      XFree(range);
      const int code = trap.ErrorCode();
      context_ = 0;
      Teardown();
      SetLastError(code > 0 ? static_cast<std::uint32_t>(code) : EPIPE);
      return false;
    }
  }
  XFree(range);

  // The context must exist on the server before the data connection asks to
  // enable it.
  XSync(control_->display(), False);
  closing_ = false;
  if (!XRecordEnableContextAsync(data_->display(), context_, &X11InputRecorder::OnRecord,
                                 reinterpret_cast<XPointer>(this))) {
    Teardown();
    SetLastError(EPIPE);
    return false;
  }
  XFlush(data_->display());
  sink_ = &sink;
  fd_ = ConnectionNumber(data_->display());
  watch_.Watch(fd_, [this] { ProcessPending(); });
  ProcessPending();  // replies Xlib may already hold
  return true;
}

bool X11InputRecorder::Remove() {
  sink_ = nullptr;
  queue_.clear();
  return Teardown();
}

bool X11InputRecorder::Teardown() {
  bool ok = true;
  closing_ = true;
  if (fd_ >= 0) {
    watch_.Unwatch(fd_);
    fd_ = -1;
  }
  if (context_ != 0 && control_ && control_->Alive()) {
    X11ErrorTrap trap(control_->display());
    XRecordDisableContext(control_->display(), context_);
    XRecordFreeContext(control_->display(), context_);
    if (trap.Failed()) {
      ok = false;
      SetLastError(trap.ErrorCode() > 0 ? static_cast<std::uint32_t>(trap.ErrorCode()) : EPIPE);
    }
  } else if (context_ != 0) {
    ok = false;  // the control connection is gone: the context could not be disabled
    SetLastError(EPIPE);
  }
  context_ = 0;
  // Closing the data connection reads its last replies; OnRecord drops them
  // because closing_ is set.
  data_.reset();
  control_.reset();
  pressed_.reset();
  return ok;
}

void X11InputRecorder::ProcessPending() {
  if (!data_ || inXlib_) return;
  inXlib_ = true;
  ReloadKeymapIfChanged();
  XRecordProcessReplies(data_->display());
  inXlib_ = false;
  const bool lost = !data_->Alive();

  // Deliver in order. The sink may remove this source (Ctrl+Break) or run a
  // nested event loop that calls ProcessPending again; both are fine here.
  while (!queue_.empty() && sink_ != nullptr) {
    const InputEvent event = queue_.front();
    queue_.pop_front();
    sink_->JournalHookProc(HookCodes::Action, event);
  }

  if (lost && data_) {
    InputEventSink* sink = sink_;
    sink_ = nullptr;
    queue_.clear();
    Teardown();
    SetLastError(EPIPE);
    if (sink != nullptr) sink->InputSourceLost();
  }
}

void X11InputRecorder::OnRecord(XPointer closure, XRecordInterceptData* data) {
  auto* self = reinterpret_cast<X11InputRecorder*>(closure);
  if (data->category == XRecordFromServer && !self->closing_ && data->data != nullptr &&
      data->data_len >= 1) {
    self->Decode(data->data);
  }
  XRecordFreeData(data);
}

void X11InputRecorder::Decode(const unsigned char* event) {
  const int type = event[0] & kTypeMask;
  const unsigned detail = event[1];
  std::optional<InputEvent> translated;
  if (type == KeyPress || type == KeyRelease) {
    const bool press = type == KeyPress;
    const bool ctrl = (pressed_ & ctrlKeys_).any();
    const bool alt = (pressed_ & altKeys_).any();
    translated = TranslateKey(keysyms_[detail], press, ctrl, alt);
    pressed_[detail] = press;
  } else if (type == ButtonPress || type == ButtonRelease) {
    translated = TranslateButton(detail, type == ButtonPress);
  }
  if (translated) queue_.push_back(*translated);
}

void X11InputRecorder::LoadKeymap() {
  keysyms_.fill(NoSymbol);
  ctrlKeys_.reset();
  altKeys_.reset();
  Display* display = control_->display();
  int minCode = 0;
  int maxCode = 0;
  XDisplayKeycodes(display, &minCode, &maxCode);
  int perCode = 0;
  KeySym* map =
      XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
  if (map == nullptr) return;
  for (int code = minCode; code <= maxCode && code < 256; ++code) {
    const unsigned long keysym = perCode > 0 ? map[(code - minCode) * perCode] : NoSymbol;
    keysyms_[code] = keysym;
    ctrlKeys_[code] = keysym == XK_Control_L || keysym == XK_Control_R;
    altKeys_[code] = IsAlt(keysym);
  }
  XFree(map);
}

void X11InputRecorder::ReloadKeymapIfChanged() {
  // Every client gets MappingNotify without asking; it is the only event the
  // control connection ever receives.
  Display* display = control_ ? control_->display() : nullptr;
  if (display == nullptr || !control_->Alive()) return;
  bool changed = false;
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MappingNotify && event.xmapping.request != MappingPointer) {
      XRefreshKeyboardMapping(&event.xmapping);
      changed = true;
    }
  }
  if (changed) LoadKeymap();
}

}  // namespace framory

#include "platform/classlib/dialogs.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/classlib/forms.h"
#include "platform/classlib/stdctrls.h"
#include "platform/gfx/dc.h"
#include "platform/ui/window_system.h"

namespace qv {

namespace {

bool unattended = false;

struct ButtonSpec {
  int id;
  const char* caption;
};

std::vector<ButtonSpec> ButtonsOf(unsigned flags) {
  switch (flags & 0x0F) {
    case MB_OKCANCEL:
      return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    case MB_ABORTRETRYIGNORE:
      return {{IDABORT, "&Abort"}, {IDRETRY, "&Retry"}, {IDIGNORE, "&Ignore"}};
    case MB_YESNOCANCEL:
      return {{IDYES, "&Yes"}, {IDNO, "&No"}, {IDCANCEL, "Cancel"}};
    case MB_YESNO:
      return {{IDYES, "&Yes"}, {IDNO, "&No"}};
    case MB_RETRYCANCEL:
      return {{IDRETRY, "&Retry"}, {IDCANCEL, "Cancel"}};
    default:
      return {{IDOK, "OK"}};
  }
}

// A box's form, made topmost with MB_TOPMOST.
class TMessageForm : public TForm {
 public:
  TMessageForm(TComponent* owner, bool topmost) : TForm(owner), topmost_(topmost) {}

 protected:
  void CreateParamsFor(CreateParams& params) override {
    TForm::CreateParamsFor(params);
    if (topmost_) params.ExStyle |= WS_EX_TOPMOST;
  }

 private:
  bool topmost_;
};

}  // namespace

void SetMessageBoxesUnattended(bool value) {
  unattended = value;
}

bool MessageBoxesUnattended() {
  return unattended;
}

int MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  const std::vector<ButtonSpec> buttons = ButtonsOf(flags);
  const std::size_t def = std::min<std::size_t>((flags >> 8) & 0x0F, buttons.size() - 1);
  if (unattended || CurrentDisplayBackend().Name() == "headless") {
    std::fprintf(stderr, "%.*s: %.*s\n", int(caption.size()), caption.data(), int(text.size()),
                 text.data());
    return buttons[def].id;
  }
  auto* form = new TMessageForm(Application(), (flags & MB_TOPMOST) != 0);
  form->OnShow = [flags](TComponent* sender) {
    const HWND h = static_cast<TForm*>(sender)->Handle();
    if ((flags & MB_TOPMOST) != 0)
      SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if ((flags & MB_SETFOREGROUND) != 0) SetForegroundWindow(h);
  };
  form->SetBorderStyle(TFormBorderStyle::bsDialog);
  form->SetPosition(TPosition::poScreenCenter);
  form->SetCaption(caption);
  const int buttonW = 75;
  const int gap = 8;
  const int rowW = int(buttons.size()) * buttonW + (int(buttons.size()) - 1) * gap;
  // The box grows with its text, which it shows whole: wider up to 640 pixels (a long word, such
  // as a path, keeps its line), then taller.
  Bitmap probe(1, 1);
  DC measure(&probe);
  measure.SelectFont(form->Font().Handle());
  Rect wrapped{0, 0, 300 - 32, 0};
  measure.DrawText(std::string(text), wrapped, DT_EXPANDTABS | DT_WORDBREAK | DT_CALCRECT);
  const int width = std::clamp(wrapped.Width() + 32, std::max(rowW + 2 * 16, 300), 640);
  Rect lines{0, 0, width - 32, 0};
  measure.DrawText(std::string(text), lines, DT_EXPANDTABS | DT_WORDBREAK | DT_CALCRECT);
  const int textHeight = std::max(lines.Height(), 50);
  form->SetClientSize(width, textHeight + 60);
  auto* label = Create<TLabel>(form);
  label->SetParent(form);
  label->SetWordWrap(true);
  label->SetBounds(16, 16, width - 32, textHeight);
  label->SetCaption(text);
  int x = (width - rowW) / 2;
  int cancelId = 0;
  for (const ButtonSpec& b : buttons)
    if (b.id == IDCANCEL || (cancelId == 0 && b.id == IDNO)) cancelId = b.id;
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    auto* button = Create<TButton>(form);
    button->SetParent(form);
    button->SetBounds(x, 16 + textHeight + 6, buttonW, 25);
    std::string c = buttons[i].caption;
    c.erase(std::remove(c.begin(), c.end(), '&'), c.end());
    button->SetCaption(c);
    button->SetModalResult(buttons[i].id);
    button->SetDefault(i == def);
    button->SetCancel(buttons[i].id == cancelId || buttons.size() == 1);
    if (i == def) form->SetActiveControl(button);
    x += buttonW + gap;
  }
  form->AfterConstruction();
  int result = form->ShowModal();
  if (result == mrCancel && cancelId == 0) result = buttons[def].id;
  Free(form);
  return result;
}

}  // namespace qv

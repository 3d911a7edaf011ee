#include "platform/vcl/stdctrls.h"

#include <algorithm>

#include "platform/msg/message_queue.h"
#include "platform/ui/window_system.h"
#include "platform/vcl/forms.h"

namespace qv {

namespace {

Brush Solid(TColor c) {
  return Brush{BrushStyle::bsSolid, c};
}

// A UTF-8 text's character boundaries: the start of the character before or after `pos`.
int PrevChar(const std::string& s, int pos) {
  if (pos <= 0) return 0;
  --pos;
  while (pos > 0 && (static_cast<unsigned char>(s[std::size_t(pos)]) & 0xC0) == 0x80) --pos;
  return pos;
}

int NextChar(const std::string& s, int pos) {
  const int n = int(s.size());
  if (pos >= n) return n;
  ++pos;
  while (pos < n && (static_cast<unsigned char>(s[std::size_t(pos)]) & 0xC0) == 0x80) ++pos;
  return pos;
}

int CharCount(std::string_view s) {
  int n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// A typed Latin-1 character as UTF-8.
std::string Utf8(char key) {
  const auto c = static_cast<unsigned char>(key);
  if (c < 0x80) return std::string(1, key);
  return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
}

void SunkenBorder(TCanvas& canvas, Rect& r) {
  Frame3D(canvas, r, clBtnShadow, clBtnHighlight, 1);
  Frame3D(canvas, r, cl3DDkShadow, cl3DLight, 1);
}

void RaisedBorder(TCanvas& canvas, Rect& r) {
  Frame3D(canvas, r, clBtnHighlight, cl3DDkShadow, 1);
  Frame3D(canvas, r, cl3DLight, clBtnShadow, 1);
}

void DownArrow(DC* dc, const Rect& r, TColor color) {
  const int cx = (r.Left + r.Right) / 2;
  const int cy = (r.Top + r.Bottom) / 2 - 1;
  for (int i = 0; i < 4; ++i)
    dc->FillRect({cx - 3 + i, cy + i, cx + 4 - i, cy + i + 1}, Solid(color));
}

}  // namespace

// ---- TLabel ---------------------------------------------------------------------------

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 65, 17);
  SetParentColor(true);
  SetControlStyle(ControlStyle() | csReplicatable);
}

void TLabel::SetAlignment(TAlignment value) {
  if (value == alignment_) return;
  alignment_ = value;
  Invalidate();
}

void TLabel::SetLayout(TTextLayout value) {
  if (value == layout_) return;
  layout_ = value;
  Invalidate();
}

void TLabel::SetWordWrap(bool value) {
  if (value == wordWrap_) return;
  wordWrap_ = value;
  Invalidate();
}

void TLabel::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Invalidate();
}

void TLabel::Paint() {
  TCanvas& c = Canvas();
  const Rect client = ClientRect();
  if (!transparent_) {
    c.Brush().SetColor(Color());
    c.FillRect(client);
  }
  c.Brush().SetStyle(BrushStyle::bsClear);
  unsigned flags = DT_EXPANDTABS;
  if (wordWrap_) flags |= DT_WORDBREAK;
  if (alignment_ == TAlignment::taCenter) flags |= DT_CENTER;
  if (alignment_ == TAlignment::taRightJustify) flags |= DT_RIGHT;
  Rect r = client;
  if (layout_ != TTextLayout::tlTop) {
    Rect calc = client;
    c.Handle()->DrawText(Caption(), calc, flags | DT_CALCRECT);
    const int h = calc.Height();
    r.Top = layout_ == TTextLayout::tlCenter ? (client.Height() - h) / 2 : client.Height() - h;
  }
  DC* dc = c.Handle();
  if (!Enabled()) {
    Rect shifted = r.Offset(1, 1);
    dc->SetTextColor(clBtnHighlight);
    dc->DrawText(Caption(), shifted, flags);
    dc->SetTextColor(clBtnShadow);
  } else {
    dc->SetTextColor(Font().Color());
  }
  dc->DrawText(Caption(), r, flags);
}

// ---- TButton --------------------------------------------------------------------------

TButton::TButton(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 75, 25);
  SetTabStop(true);
  SetColor(clBtnFace);
}

void TButton::Click() {
  if (TCustomForm* form = GetParentForm(); form != nullptr && modalResult_ != 0)
    form->SetModalResult(modalResult_);
  TControl::Click();
}

void TButton::SetPressed(bool value) {
  if (value == pressed_) return;
  pressed_ = value;
  Invalidate();
}

void TButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) SetPressed(true);
  TCustomControl::MouseDown(button, shift, x, y);
}

void TButton::MouseMove(TShiftState shift, int x, int y) {
  // Held down, it looks pressed only while the pointer is over it.
  if (ControlState() & csLButtonDown) SetPressed(ClientRect().Contains({x, y}));
  TCustomControl::MouseMove(shift, x, y);
}

void TButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) SetPressed(false);
  TCustomControl::MouseUp(button, shift, x, y);
}

void TButton::KeyDown(std::uint16_t& key, TShiftState shift) {
  if (key == VK_SPACE) {
    spaceDown_ = true;
    SetPressed(true);
  }
}

void TButton::KeyUp(std::uint16_t& key, TShiftState shift) {
  if (key == VK_SPACE && spaceDown_) {
    spaceDown_ = false;
    SetPressed(false);
    Click();
  }
}

void TButton::WndProc(TMessage& m) {
  if (m.Msg == CM_DIALOGKEY) {
    const auto key = static_cast<std::uint16_t>(m.WParam);
    const TCustomForm* form = GetParentForm();
    const auto* active = form ? dynamic_cast<const TButton*>(form->ActiveControl()) : nullptr;
    // Enter clicks the focused button, or the default one when no button has the focus.
    const bool enter = key == VK_RETURN && ((active == this) || (active == nullptr && default_));
    if ((enter || (key == VK_ESCAPE && cancel_)) && CanFocus()) {
      Click();
      m.Result = 1;
    }
    return;
  }
  if (m.Msg == WM_KILLFOCUS) {
    spaceDown_ = false;
    SetPressed(false);
  }
  TCustomControl::WndProc(m);
}

void TButton::Paint() {
  TCanvas& c = Canvas();
  Rect r = ClientRect();
  DC* dc = c.Handle();
  const bool focusedLook = Focused() || (default_ && Enabled());
  if (focusedLook) Frame3D(c, r, clBlack, clBlack, 1);
  if (pressed_) {
    Frame3D(c, r, clBtnShadow, clBtnShadow, 1);
  } else {
    RaisedBorder(c, r);
  }
  dc->FillRect(r, Solid(Color()));
  c.Brush().SetStyle(BrushStyle::bsClear);
  Rect text = pressed_ ? r.Offset(1, 1) : r;
  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(Enabled() ? Font().Color() : clGrayText);
  dc->DrawText(Caption(), text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (Focused()) dc->FrameRect(r.Inflate(-2, -2), Solid(clBtnShadow));
}

// ---- TEdit ----------------------------------------------------------------------------

TEdit::TEdit(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 121, 21);
  SetTabStop(true);
  SetColor(clWindow);
  SetControlStyle(ControlStyle() & ~csClickEvents);
}

void TEdit::SetBorderStyle(TBorderStyle value) {
  if (value == borderStyle_) return;
  borderStyle_ = value;
  Invalidate();
}

void TEdit::SetText(std::string_view text) {
  if (text == Text()) return;
  TControl::SetText(text);
  caret_ = anchor_ = std::min(caret_, int(Text().size()));
  caret_ = anchor_ = 0;
  scroll_ = 0;
  Changed();
}

void TEdit::Changed() {
  Invalidate();
  if (OnChange && !HasState(csLoading)) OnChange(this);
}

int TEdit::SelStart() const {
  return std::min(caret_, anchor_);
}

int TEdit::SelLength() const {
  return std::abs(caret_ - anchor_);
}

void TEdit::SetSelStart(int value) {
  value = std::clamp(value, 0, int(Text().size()));
  caret_ = anchor_ = value;
  Invalidate();
}

void TEdit::SetSelLength(int value) {
  const int start = SelStart();
  anchor_ = start;
  caret_ = std::clamp(start + std::max(value, 0), 0, int(Text().size()));
  Invalidate();
}

std::string TEdit::SelText() const {
  return Text().substr(std::size_t(SelStart()), std::size_t(SelLength()));
}

void TEdit::SetSelText(std::string_view text) {
  Replace(text);
}

void TEdit::SelectAll() {
  anchor_ = 0;
  caret_ = int(Text().size());
  Invalidate();
}

void TEdit::Replace(std::string_view text) {
  std::string s = Text();
  const int start = SelStart();
  const int len = SelLength();
  if (maxLength_ > 0) {
    // Only what fits is typed.
    const int room =
        maxLength_ - (CharCount(s) - CharCount(s.substr(std::size_t(start), std::size_t(len))));
    int keep = 0;
    int chars = 0;
    while (keep < int(text.size()) && chars < room) {
      keep = NextChar(std::string(text), keep);
      ++chars;
    }
    text = text.substr(0, std::size_t(std::max(keep, 0)));
  }
  if (len == 0 && text.empty()) return;
  s.replace(std::size_t(start), std::size_t(len), text);
  TControl::SetText(s);
  caret_ = anchor_ = start + int(text.size());
  Changed();
}

void TEdit::MoveCaret(int pos, bool extend) {
  caret_ = std::clamp(pos, 0, int(Text().size()));
  if (!extend) anchor_ = caret_;
  Invalidate();
}

void TEdit::KeyDown(std::uint16_t& key, TShiftState shift) {
  const bool extend = (shift & ssShift) != 0;
  const std::string& s = Caption();
  switch (key) {
    case VK_LEFT:
      if (!extend && SelLength() > 0)
        MoveCaret(SelStart(), false);
      else
        MoveCaret(PrevChar(s, caret_), extend);
      break;
    case VK_RIGHT:
      if (!extend && SelLength() > 0)
        MoveCaret(SelStart() + SelLength(), false);
      else
        MoveCaret(NextChar(s, caret_), extend);
      break;
    case VK_HOME:
      MoveCaret(0, extend);
      break;
    case VK_END:
      MoveCaret(int(s.size()), extend);
      break;
    case VK_DELETE:
      if (readOnly_) break;
      if (SelLength() == 0) anchor_ = NextChar(s, caret_);
      Replace("");
      break;
    default:
      return;
  }
  key = 0;
}

void TEdit::KeyPress(char& key) {
  if (key == '\b') {
    if (!readOnly_) {
      if (SelLength() == 0) anchor_ = PrevChar(Caption(), caret_);
      Replace("");
    }
    key = 0;
    return;
  }
  if (static_cast<unsigned char>(key) < 0x20 || key == 0x7F) return;
  if (!readOnly_) Replace(Utf8(key));
  key = 0;
}

int TEdit::XFromPos(int pos) {
  DC measure(nullptr);
  measure.SelectFont(Font().Handle());
  return Border() + 1 - scroll_ +
         measure.TextWidth(std::string_view(Caption()).substr(0, std::size_t(pos)));
}

int TEdit::PosFromX(int x) {
  const std::string& s = Caption();
  int best = 0;
  int bestDist = 1 << 30;
  for (int pos = 0;; pos = NextChar(s, pos)) {
    const int d = std::abs(XFromPos(pos) - x);
    if (d < bestDist) {
      bestDist = d;
      best = pos;
    }
    if (pos >= int(s.size())) break;
  }
  return best;
}

void TEdit::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) MoveCaret(PosFromX(x), (shift & ssShift) != 0);
  TCustomControl::MouseDown(button, shift, x, y);
}

void TEdit::MouseMove(TShiftState shift, int x, int y) {
  if (ControlState() & csLButtonDown) MoveCaret(PosFromX(x), true);
  TCustomControl::MouseMove(shift, x, y);
}

void TEdit::DoEnter() {
  // Tabbing into an edit selects its text; a click places the caret after this.
  if (autoSelect_) SelectAll();
  TCustomControl::DoEnter();
}

void TEdit::WndProc(TMessage& m) {
  TCustomControl::WndProc(m);
}

void TEdit::Paint() {
  TCanvas& c = Canvas();
  DC* dc = c.Handle();
  Rect r = ClientRect();
  if (borderStyle_ == TBorderStyle::bsSingle) SunkenBorder(c, r);
  dc->FillRect(r, Solid(Enabled() ? Color() : clBtnFace));
  // Keep the caret in view.
  const int inner = r.Width() - 2;
  const int caretX = XFromPos(caret_) + scroll_ - Border() - 1;
  if (caretX - scroll_ > inner) scroll_ = caretX - inner;
  if (caretX < scroll_) scroll_ = caretX;
  const int save = dc->SaveDC();
  dc->IntersectClipRect(r.Left, r.Top, r.Right, r.Bottom);
  const int textH = dc->GetTextMetrics().tmHeight;
  const int y = r.Top + (r.Height() - textH) / 2;
  const std::string& s = Caption();
  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(Enabled() ? Font().Color() : clGrayText);
  dc->TextOut(XFromPos(0), y, s);
  if (Focused() && SelLength() > 0) {
    const int x0 = XFromPos(SelStart());
    const int x1 = XFromPos(SelStart() + SelLength());
    dc->FillRect({x0, y, x1, y + textH}, Solid(clHighlight));
    dc->SetTextColor(clHighlightText);
    dc->TextOut(x0, y, SelText());
  }
  if (Focused()) {
    const int x = XFromPos(caret_);
    dc->FillRect({x, y, x + 1, y + textH}, Solid(Font().Color()));
  }
  dc->RestoreDC(save);
}

// ---- item lists -----------------------------------------------------------------------

int TControlStrings::Add(std::string s) {
  const int i = list_.Add(std::move(s));
  Changed();
  return i;
}

void TControlStrings::Insert(int index, std::string s) {
  list_.Insert(index, std::move(s));
  Changed();
}

void TControlStrings::Delete(int index) {
  list_.Delete(index);
  Changed();
}

void TControlStrings::Clear() {
  if (list_.Count() == 0) return;
  list_.Clear();
  Changed();
}

void TControlStrings::SetStrings(int index, std::string s) {
  list_.SetStrings(index, std::move(s));
  Changed();
}

void TControlStrings::Assign(const TStringList& list) {
  list_.Assign(list);
  Changed();
}

void TControlStrings::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) Changed();
}

void TControlStrings::Changed() {
  if (updating_ > 0) return;
  if (OnChange) OnChange();
  control_->Invalidate();
}

// ---- TListBox -------------------------------------------------------------------------

TListBox::TListBox(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 121, 97);
  SetTabStop(true);
  SetColor(clWindow);
  items_.OnChange = [this] {
    if (itemIndex_ >= items_.Count()) itemIndex_ = -1;
    topIndex_ = std::clamp(topIndex_, 0, std::max(items_.Count() - 1, 0));
  };
}

int TListBox::ItemHeight() const {
  if (itemHeight_ > 0) return itemHeight_;
  DC measure(nullptr);
  measure.SelectFont(const_cast<TListBox*>(this)->Font().Handle());
  return std::max(measure.GetTextMetrics().tmHeight, 1);
}

void TListBox::SetBorderStyle(TBorderStyle value) {
  if (value == borderStyle_) return;
  borderStyle_ = value;
  Invalidate();
}

int TListBox::VisibleRows() const {
  return std::max((Height() - 2 * Border()) / ItemHeight(), 1);
}

void TListBox::SetItemIndex(int index) {
  if (index < -1 || index >= items_.Count()) index = -1;
  if (index == itemIndex_) return;
  itemIndex_ = index;
  MakeVisible(index);
  Invalidate();
}

void TListBox::SetTopIndex(int index) {
  index = std::clamp(index, 0, std::max(items_.Count() - 1, 0));
  if (index == topIndex_) return;
  topIndex_ = index;
  Invalidate();
}

void TListBox::MakeVisible(int index) {
  if (index < 0) return;
  if (index < topIndex_) SetTopIndex(index);
  if (index >= topIndex_ + VisibleRows()) SetTopIndex(index - VisibleRows() + 1);
}

int TListBox::ItemAtPos(Point p) const {
  if (p.X < Border() || p.X >= Width() - Border() || p.Y < Border()) return -1;
  const int i = topIndex_ + (p.Y - Border()) / ItemHeight();
  return i < items_.Count() ? i : -1;
}

void TListBox::Choose(int index) {
  if (items_.Count() == 0) return;
  index = std::clamp(index, 0, items_.Count() - 1);
  if (index == itemIndex_) return;
  SetItemIndex(index);
  if (OnClick) OnClick(this);
}

void TListBox::KeyDown(std::uint16_t& key, TShiftState shift) {
  const int page = VisibleRows();
  const int cur = itemIndex_;
  switch (key) {
    case VK_UP:
      Choose(cur < 0 ? 0 : cur - 1);
      break;
    case VK_DOWN:
      Choose(cur + 1);
      break;
    case VK_HOME:
      Choose(0);
      break;
    case VK_END:
      Choose(items_.Count() - 1);
      break;
    case VK_PRIOR:
      Choose(cur - page + 1);
      break;
    case VK_NEXT:
      Choose(std::max(cur, 0) + page - 1);
      break;
    default:
      return;
  }
  key = 0;
}

void TListBox::KeyPress(char& key) {
  // A letter chooses the next item starting with it.
  if (static_cast<unsigned char>(key) <= 0x20 || items_.Count() == 0) return;
  const auto lower = [](char c) { return char(std::tolower(static_cast<unsigned char>(c))); };
  for (int step = 1; step <= items_.Count(); ++step) {
    const int i = (std::max(itemIndex_, -1) + step) % items_.Count();
    const std::string& s = items_[i];
    if (!s.empty() && lower(s[0]) == lower(key)) {
      Choose(i);
      break;
    }
  }
  key = 0;
}

void TListBox::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) {
    const int i = ItemAtPos({x, y});
    if (i >= 0) Choose(i);
  }
  TCustomControl::MouseDown(button, shift, x, y);
}

void TListBox::MouseMove(TShiftState shift, int x, int y) {
  if (ControlState() & csLButtonDown) {
    const int i = ItemAtPos({x, std::clamp(y, Border(), Height() - Border() - 1)});
    if (i >= 0) Choose(i);
  }
  TCustomControl::MouseMove(shift, x, y);
}

void TListBox::WndProc(TMessage& m) {
  if (m.Msg == WM_MOUSEWHEEL) {
    const auto delta = static_cast<std::int16_t>(HIWORD(m.WParam));
    SetTopIndex(topIndex_ - delta / 120 * 3);
    return;
  }
  TCustomControl::WndProc(m);
}

void TListBox::Paint() {
  TCanvas& c = Canvas();
  DC* dc = c.Handle();
  Rect r = ClientRect();
  if (borderStyle_ == TBorderStyle::bsSingle) SunkenBorder(c, r);
  dc->FillRect(r, Solid(Color()));
  const int h = ItemHeight();
  const int save = dc->SaveDC();
  dc->IntersectClipRect(r.Left, r.Top, r.Right, r.Bottom);
  dc->SetBkMode(TRANSPARENT);
  for (int i = topIndex_, y = r.Top; i < items_.Count() && y < r.Bottom; ++i, y += h) {
    const Rect row{r.Left, y, r.Right, y + h};
    const bool selected = i == itemIndex_;
    if (selected) dc->FillRect(row, Solid(clHighlight));
    dc->SetTextColor(!Enabled() ? clGrayText : selected ? clHighlightText : Font().Color());
    dc->TextOut(row.Left + 2, row.Top, items_[i]);
    if (selected && Focused()) dc->FrameRect(row, Solid(clHighlightText));
  }
  dc->RestoreDC(save);
}

// ---- TComboBox ------------------------------------------------------------------------

// The dropped-down list: a popup window below the combo box that holds the mouse until a
// choice or a click elsewhere closes it.
class TComboDropDown final : public TCustomControl {
 public:
  TComboDropDown(TComponent* owner, TComboBox* combo)
      : TCustomControl(owner), combo_(combo), hot_(combo->ItemIndex()) {
    SetColor(clWindow);
  }

  void MoveHot(int delta) {
    const int n = combo_->Items().Count();
    if (n == 0) return;
    hot_ = std::clamp(hot_ < 0 ? 0 : hot_ + delta, 0, n - 1);
    if (hot_ < top_) top_ = hot_;
    if (hot_ >= top_ + Rows()) top_ = hot_ - Rows() + 1;
    Invalidate();
  }
  [[nodiscard]] int Hot() const { return hot_; }

 protected:
  void CreateParamsFor(CreateParams& p) override {
    p.TopLevel = true;
    p.Style = WS_POPUP | WS_BORDER;
  }
  [[nodiscard]] int RowHeight() const {
    DC measure(nullptr);
    measure.SelectFont(combo_->Font().Handle());
    return std::max(measure.GetTextMetrics().tmHeight, 1);
  }
  [[nodiscard]] int Rows() const { return std::max((Height() - 2) / RowHeight(), 1); }
  [[nodiscard]] int ItemAt(Point p) const {
    if (!ClientRect().Contains(p)) return -1;
    const int i = top_ + (p.Y - 1) / RowHeight();
    return i >= 0 && i < combo_->Items().Count() ? i : -1;
  }
  void WndProc(TMessage& m) override {
    if (m.Msg == WM_LBUTTONUP || m.Msg == WM_LBUTTONDOWN || m.Msg == WM_MOUSEMOVE) {
      const Point p{static_cast<std::int16_t>(LOWORD(std::uintptr_t(m.LParam))),
                    static_cast<std::int16_t>(HIWORD(std::uintptr_t(m.LParam)))};
      const int i = ItemAt(p);
      if (m.Msg == WM_MOUSEMOVE) {
        if (i >= 0 && i != hot_) {
          hot_ = i;
          Invalidate();
        }
        return;
      }
      if (m.Msg == WM_LBUTTONDOWN && i < 0) {
        // A click elsewhere. The list closes once this message is done with it.
        PostMessage(combo_->Handle(), CM_CLOSEUP, 0, 0);
        return;
      }
      if (m.Msg == WM_LBUTTONUP && i >= 0) {
        hot_ = i;
        PostMessage(combo_->Handle(), CM_CLOSEUP, 1, 0);
      }
      return;
    }
    TCustomControl::WndProc(m);
  }
  void Paint() override {
    TCanvas& c = Canvas();
    DC* dc = c.Handle();
    Rect r = ClientRect();
    dc->FrameRect(r, Solid(clWindowFrame));
    r = r.Inflate(-1, -1);
    dc->FillRect(r, Solid(clWindow));
    dc->SelectFont(combo_->Font().Handle());
    dc->SetBkMode(TRANSPARENT);
    const int h = RowHeight();
    for (int i = top_, y = r.Top; i < combo_->Items().Count() && y < r.Bottom; ++i, y += h) {
      const bool hot = i == hot_;
      if (hot) dc->FillRect({r.Left, y, r.Right, y + h}, Solid(clHighlight));
      dc->SetTextColor(hot ? clHighlightText : combo_->Font().Color());
      dc->TextOut(r.Left + 2, y, combo_->Items()[i]);
    }
  }

 private:
  TComboBox* combo_;
  int hot_;
  int top_ = 0;
};

TComboBox::TComboBox(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 145, 21);
  SetTabStop(true);
  SetColor(clWindow);
  items_.OnChange = [this] {
    if (itemIndex_ >= items_.Count()) {
      itemIndex_ = -1;
      TControl::SetText("");
    }
  };
}

TComboBox::~TComboBox() {
  if (dropDown_ != nullptr) {
    TComboDropDown* d = dropDown_;
    dropDown_ = nullptr;
    Free(d);
  }
}

void TComboBox::SetItemIndex(int index) {
  if (index < -1 || index >= items_.Count()) index = -1;
  itemIndex_ = index;
  TControl::SetText(index >= 0 ? items_[index] : std::string());
  Invalidate();
}

void TComboBox::Change() {
  if (OnChange) OnChange(this);
}

void TComboBox::Choose(int index) {
  if (items_.Count() == 0) return;
  index = std::clamp(index, 0, items_.Count() - 1);
  if (index == itemIndex_) return;
  SetItemIndex(index);
  Change();
}

LRESULT TComboBox::DialogCode() const {
  // While the list is down, Enter and Escape close it instead of reaching the form.
  return DLGC_WANTARROWS | DLGC_WANTCHARS |
         (dropDown_ != nullptr ? LRESULT(DLGC_WANTALLKEYS) : LRESULT(0));
}

void TComboBox::SetDroppedDown(bool value) {
  if (value == DroppedDown()) return;
  if (!value) {
    CloseUp(false);
    return;
  }
  if (!Showing() || !Enabled()) return;
  auto* d = Create<TComboDropDown>(this, this);
  const int rows = std::clamp(items_.Count(), 1, std::max(dropDownCount_, 1));
  DC measure(nullptr);
  measure.SelectFont(Font().Handle());
  const int h = rows * std::max(measure.GetTextMetrics().tmHeight, 1) + 2;
  const Point p = ClientToScreen({0, Height()});
  d->SetBounds(p.X, p.Y, Width(), h);
  dropDown_ = d;
  ShowWindow(d->Handle(), SW_SHOWNA);
  SetCapture(d->Handle());
  Invalidate();
}

void TComboBox::CloseUp(bool accept) {
  TComboDropDown* d = dropDown_;
  if (d == nullptr) return;
  const int chosen = d->Hot();
  dropDown_ = nullptr;
  if (GetCapture() == d->Handle()) ReleaseCapture();
  Free(d);
  Invalidate();
  if (accept && chosen >= 0) Choose(chosen);
}

void TComboBox::KeyDown(std::uint16_t& key, TShiftState shift) {
  if (dropDown_ != nullptr) {
    switch (key) {
      case VK_UP:
        dropDown_->MoveHot(-1);
        break;
      case VK_DOWN:
        dropDown_->MoveHot(1);
        break;
      case VK_RETURN:
        CloseUp(true);
        break;
      case VK_ESCAPE:
      case VK_F4:
        CloseUp(false);
        break;
      default:
        return;
    }
    key = 0;
    return;
  }
  switch (key) {
    case VK_F4:
      SetDroppedDown(true);
      break;
    case VK_DOWN:
      if (shift & ssAlt)
        SetDroppedDown(true);
      else
        Choose(itemIndex_ + 1);
      break;
    case VK_UP:
      Choose(itemIndex_ < 0 ? 0 : itemIndex_ - 1);
      break;
    case VK_HOME:
      Choose(0);
      break;
    case VK_END:
      Choose(items_.Count() - 1);
      break;
    default:
      return;
  }
  key = 0;
}

void TComboBox::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) SetDroppedDown(!DroppedDown());
  TCustomControl::MouseDown(button, shift, x, y);
}

void TComboBox::WndProc(TMessage& m) {
  if (m.Msg == CM_CLOSEUP) {
    CloseUp(m.WParam != 0);
    return;
  }
  if (m.Msg == WM_KILLFOCUS) CloseUp(false);
  TCustomControl::WndProc(m);
}

void TComboBox::Paint() {
  TCanvas& c = Canvas();
  DC* dc = c.Handle();
  Rect r = ClientRect();
  SunkenBorder(c, r);
  const int buttonW = std::min(17, r.Width());
  Rect button{r.Right - buttonW, r.Top, r.Right, r.Bottom};
  Rect field{r.Left, r.Top, button.Left, r.Bottom};
  dc->FillRect(field, Solid(Enabled() ? Color() : clBtnFace));
  Rect b = button;
  if (dropDown_ != nullptr) {
    Frame3D(c, b, clBtnShadow, clBtnShadow, 1);
  } else {
    RaisedBorder(c, b);
  }
  dc->FillRect(b, Solid(clBtnFace));
  DownArrow(dc, b, Enabled() ? clBtnText : clGrayText);
  const int textH = dc->GetTextMetrics().tmHeight;
  const int y = field.Top + (field.Height() - textH) / 2;
  Rect textRect{field.Left + 1, y, field.Right - 1, y + textH};
  dc->SetBkMode(TRANSPARENT);
  if (Focused() && dropDown_ == nullptr) {
    dc->FillRect(textRect, Solid(clHighlight));
    dc->SetTextColor(clHighlightText);
  } else {
    dc->SetTextColor(Enabled() ? Font().Color() : clGrayText);
  }
  const int save = dc->SaveDC();
  dc->IntersectClipRect(field.Left, field.Top, field.Right, field.Bottom);
  dc->TextOut(textRect.Left + 1, y, Text());
  dc->RestoreDC(save);
}

// ---- TScrollBar -----------------------------------------------------------------------

TScrollBar::TScrollBar(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 121, 16);
  SetTabStop(true);
  SetColor(clScrollBar);
}

void TScrollBar::SetKind(TScrollBarKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  SetBounds(Left(), Top(), Height(), Width());
  Invalidate();
}

void TScrollBar::SetParams(int position, int min, int max) {
  if (max < min) throw Exception("Scroll bar property out of range");
  position = std::clamp(position, min, max);
  const bool moved = position != position_;
  min_ = min;
  max_ = max;
  position_ = position;
  Invalidate();
  if (moved && OnChange) OnChange(this);
}

void TScrollBar::SetPosition(int value) {
  SetParams(value, min_, max_);
}

void TScrollBar::SetPageSize(int v) {
  pageSize_ = std::clamp(v, 0, max_ - min_ + 1);
  Invalidate();
}

void TScrollBar::DoScroll(WPARAM code, int thumbPos) {
  int pos = position_;
  TScrollCode sc = scEndScroll;
  switch (code) {
    case SB_LINEUP:
      sc = scLineUp;
      pos -= smallChange_;
      break;
    case SB_LINEDOWN:
      sc = scLineDown;
      pos += smallChange_;
      break;
    case SB_PAGEUP:
      sc = scPageUp;
      pos -= largeChange_;
      break;
    case SB_PAGEDOWN:
      sc = scPageDown;
      pos += largeChange_;
      break;
    case SB_THUMBPOSITION:
      sc = scPosition;
      pos = thumbPos;
      break;
    case SB_THUMBTRACK:
      sc = scTrack;
      pos = thumbPos;
      break;
    case SB_TOP:
      sc = scTop;
      pos = min_;
      break;
    case SB_BOTTOM:
      sc = scBottom;
      pos = max_;
      break;
    default:
      break;
  }
  pos = std::clamp(pos, min_, max_);
  if (OnScroll) OnScroll(this, sc, pos);
  SetPosition(pos);
}

int TScrollBar::Length() const {
  return kind_ == TScrollBarKind::sbHorizontal ? Width() : Height();
}

int TScrollBar::Thickness() const {
  return kind_ == TScrollBarKind::sbHorizontal ? Height() : Width();
}

void TScrollBar::Thumb(int& start, int& size) const {
  const int arrow = std::min(Thickness(), Length() / 2);
  const int track = std::max(Length() - 2 * arrow, 0);
  const int range = max_ - min_ + 1;
  size = pageSize_ > 0 ? std::max(track * pageSize_ / range, 8) : std::min(Thickness(), track);
  size = std::min(size, track);
  const int span = std::max(max_ - min_ - std::max(pageSize_ - 1, 0), 1);
  start = arrow + (track - size) * (std::min(position_, min_ + span) - min_) / span;
}

int TScrollBar::PosFromPixel(int pixel) const {
  int start = 0;
  int size = 0;
  Thumb(start, size);
  const int arrow = std::min(Thickness(), Length() / 2);
  const int track = std::max(Length() - 2 * arrow - size, 1);
  const int span = std::max(max_ - min_ - std::max(pageSize_ - 1, 0), 0);
  return min_ + std::clamp((pixel - arrow) * span / track, 0, span);
}

void TScrollBar::KeyDown(std::uint16_t& key, TShiftState shift) {
  switch (key) {
    case VK_UP:
    case VK_LEFT:
      DoScroll(SB_LINEUP, 0);
      break;
    case VK_DOWN:
    case VK_RIGHT:
      DoScroll(SB_LINEDOWN, 0);
      break;
    case VK_PRIOR:
      DoScroll(SB_PAGEUP, 0);
      break;
    case VK_NEXT:
      DoScroll(SB_PAGEDOWN, 0);
      break;
    case VK_HOME:
      DoScroll(SB_TOP, 0);
      break;
    case VK_END:
      DoScroll(SB_BOTTOM, 0);
      break;
    default:
      return;
  }
  key = 0;
}

void TScrollBar::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == TMouseButton::mbLeft) {
    const int along = kind_ == TScrollBarKind::sbHorizontal ? x : y;
    const int arrow = std::min(Thickness(), Length() / 2);
    int start = 0;
    int size = 0;
    Thumb(start, size);
    if (along < arrow) {
      DoScroll(SB_LINEUP, 0);
    } else if (along >= Length() - arrow) {
      DoScroll(SB_LINEDOWN, 0);
    } else if (along < start) {
      DoScroll(SB_PAGEUP, 0);
    } else if (along >= start + size) {
      DoScroll(SB_PAGEDOWN, 0);
    } else {
      dragging_ = true;
      dragOffset_ = along - start;
    }
  }
  TCustomControl::MouseDown(button, shift, x, y);
}

void TScrollBar::MouseMove(TShiftState shift, int x, int y) {
  if (dragging_) {
    const int along = kind_ == TScrollBarKind::sbHorizontal ? x : y;
    DoScroll(SB_THUMBTRACK, PosFromPixel(along - dragOffset_));
  }
  TCustomControl::MouseMove(shift, x, y);
}

void TScrollBar::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (dragging_ && button == TMouseButton::mbLeft) {
    dragging_ = false;
    DoScroll(SB_THUMBPOSITION, position_);
  }
  TCustomControl::MouseUp(button, shift, x, y);
}

void TScrollBar::Paint() {
  TCanvas& c = Canvas();
  DC* dc = c.Handle();
  const bool horz = kind_ == TScrollBarKind::sbHorizontal;
  const int arrow = std::min(Thickness(), Length() / 2);
  dc->FillRect(ClientRect(), Solid(Color()));
  auto along = [&](int a, int b) {
    return horz ? Rect{a, 0, b, Height()} : Rect{0, a, Width(), b};
  };
  for (Rect button : {along(0, arrow), along(Length() - arrow, Length())}) {
    Rect b = button;
    RaisedBorder(c, b);
    dc->FillRect(b, Solid(clBtnFace));
  }
  const TColor arrowColor = Enabled() ? clBtnText : clGrayText;
  // Arrow heads: triangles pointing away from the track.
  const Rect first = along(0, arrow);
  const Rect last = along(Length() - arrow, Length());
  for (int i = 0; i < 4; ++i) {
    if (horz) {
      const int cy = Height() / 2;
      const int x0 = (first.Left + first.Right) / 2 - 2 + i;
      dc->FillRect({x0, cy - i, x0 + 1, cy + i + 1}, Solid(arrowColor));
      const int x1 = (last.Left + last.Right) / 2 + 1 - i;
      dc->FillRect({x1, cy - i, x1 + 1, cy + i + 1}, Solid(arrowColor));
    } else {
      const int cx = Width() / 2;
      const int y0 = (first.Top + first.Bottom) / 2 - 2 + i;
      dc->FillRect({cx - i, y0, cx + i + 1, y0 + 1}, Solid(arrowColor));
      const int y1 = (last.Top + last.Bottom) / 2 + 1 - i;
      dc->FillRect({cx - i, y1, cx + i + 1, y1 + 1}, Solid(arrowColor));
    }
  }
  int start = 0;
  int size = 0;
  Thumb(start, size);
  if (size > 0 && Enabled()) {
    Rect t = along(start, start + size);
    RaisedBorder(c, t);
    dc->FillRect(t, Solid(clBtnFace));
  }
  if (Focused()) dc->FrameRect(along(start, start + size).Inflate(-2, -2), Solid(clBtnText));
}

}  // namespace qv

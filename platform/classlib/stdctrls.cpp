#include "platform/classlib/stdctrls.h"

#include <algorithm>

#include "platform/classlib/forms.h"
#include "platform/classlib/stdctrls_draw.h"
#include "platform/msg/message_queue.h"
#include "platform/ui/window_system.h"

namespace qv {

using namespace draw;

namespace {

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
  if (m.Msg == CM_FOCUSCHANGED) {
    Invalidate();  // the default button's frame follows the focus
    return;
  }
  TCustomControl::WndProc(m);
}

void TButton::Paint() {
  TCanvas& c = Canvas();
  Rect r = ClientRect();
  DC* dc = c.Handle();
  // The default button looks it unless another button has the focus.
  const TCustomForm* form = GetParentForm();
  const bool otherButton = form != nullptr && form->ActiveControl() != this &&
                           dynamic_cast<const TButton*>(form->ActiveControl()) != nullptr;
  const bool focusedLook = Focused() || (default_ && Enabled() && !otherButton);
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
  caret_ = anchor_ = 0;
  scroll_ = 0;
  TextChanged();
}

void TEdit::TextChanged() {
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
  TextChanged();
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
    case 'A':
      if (!(shift & ssCtrl)) return;
      SelectAll();
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
  if (button == TMouseButton::mbLeft) {
    if (shift & ssDouble) {
      // A double click selects the word under the pointer.
      const std::string& s = Caption();
      const auto isWord = [&](int pos) {
        return pos < int(s.size()) && s[std::size_t(pos)] != ' ' && s[std::size_t(pos)] != '\t';
      };
      int start = PosFromX(x);
      int end = start;
      while (start > 0 && isWord(PrevChar(s, start))) start = PrevChar(s, start);
      while (isWord(end)) end = NextChar(s, end);
      anchor_ = start;
      caret_ = end;
      Invalidate();
    } else {
      MoveCaret(PosFromX(x), (shift & ssShift) != 0);
    }
  }
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
    UpdateScrollBar();
  };
}

void TListBox::UpdateScrollBar() {
  const int rows = VisibleRows();
  const bool needed = items_.Count() > rows && Width() > 2 * Border() + 16;
  if (!needed) {
    if (scrollBar_ != nullptr) scrollBar_->SetVisible(false);
    return;
  }
  if (scrollBar_ == nullptr) {
    scrollBar_ = Create<TScrollBar>(this);
    scrollBar_->SetKind(TScrollBarKind::sbVertical);
    scrollBar_->SetTabStop(false);
    scrollBar_->SetParent(this);
    scrollBar_->OnChange = [this](TComponent*) { SetTopIndex(scrollBar_->Position()); };
  }
  scrollBar_->SetBounds(Width() - Border() - 16, Border(), 16, Height() - 2 * Border());
  scrollBar_->SetLargeChange(std::max(rows - 1, 1));
  scrollBar_->SetPageSize(0);
  scrollBar_->SetParams(std::min(topIndex_, items_.Count() - rows), 0, items_.Count() - rows);
  scrollBar_->SetPageSize(rows);
  scrollBar_->SetVisible(true);
}

int TListBox::RowsRight() const {
  const int right = Width() - Border();
  return scrollBar_ != nullptr && scrollBar_->Visible() ? right - scrollBar_->Width() : right;
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
  UpdateScrollBar();
}

void TListBox::MakeVisible(int index) {
  if (index < 0) return;
  if (index < topIndex_) SetTopIndex(index);
  if (index >= topIndex_ + VisibleRows()) SetTopIndex(index - VisibleRows() + 1);
}

int TListBox::ItemAtPos(Point p) const {
  if (p.X < Border() || p.X >= RowsRight() || p.Y < Border()) return -1;
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
  r.Right = RowsRight();
  for (int i = topIndex_, y = r.Top; i < items_.Count() && y < r.Bottom; ++i, y += h) {
    const Rect row{r.Left, y, r.Right, y + h};
    const bool selected = i == itemIndex_;
    if (selected && Enabled()) dc->FillRect(row, Solid(clHighlight));
    dc->SetTextColor(!Enabled() ? clGrayText : selected ? clHighlightText : Font().Color());
    dc->TextOut(row.Left + 2, row.Top, items_[i]);
    if (selected && Focused()) dc->FrameRect(row, Solid(clHighlightText));
    // Grey text cannot be read on the dark highlight: a disabled list keeps its own background
    // under the selected row and frames the row in the highlight colour instead.
    if (selected && !Enabled()) dc->FrameRect(row, Solid(clHighlight));
  }
  dc->RestoreDC(save);
}

}  // namespace qv

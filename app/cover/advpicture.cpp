#include "app/cover/advpicture.h"

#include <algorithm>

#include "platform/base/streams.h"
#include "platform/gfx/dc.h"
#include "platform/gfx/gif_codec.h"
#include "platform/gfx/picture.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/window.h"

namespace qv {

namespace {

constexpr std::uintptr_t kAnimationTimerId = 500;
constexpr UINT kAnimationIntervalMs = 10;
constexpr int64_t kMaxPictureFileBytes = int64_t(64) << 20;

int MulDiv(long long a, long long b, long long c) {
  return static_cast<int>((a * b + c / 2) / c);
}

}  // namespace

// --- TIPicture ---------------------------------------------------------------------------

void TIPicture::Decode() {
  image_ = {};
  opaque_ = {};
  transparent_ = false;
  info_ = {};
  if (data_.empty()) throw EInvalidGraphic("Empty image stream created");
  std::span<const std::uint8_t> bytes(data_);
  std::vector<std::uint8_t> frameCopy;
  if (IsGifData(bytes)) {
    const std::vector<std::size_t> starts = GifFrameStarts(bytes);
    if (frameCount_ < 0) frameCount_ = static_cast<int>(starts.size());
    if (!starts.empty()) {
      GifScreenSize(bytes, gifWidth_, gifHeight_);
      const std::size_t selected = frame_ <= 1 ? 0 : std::size_t(frame_ - 1);
      if (selected < starts.size()) info_ = GifFrameAt(bytes, starts[selected]);
      frameCopy = GifWithoutEarlierFrames(bytes, starts, frame_);
      bytes = frameCopy;
    }
  }
  const PictureFormat format = DetectPictureFormat(bytes);
  if (format != PictureFormat::Jpeg && format != PictureFormat::Gif &&
      format != PictureFormat::Bmp) {
    throw EInvalidGraphic("Could not load image. Invalid format");
  }
  try {
    if (format == PictureFormat::Gif) {
      // Transparent pixels are left out when drawing, as the picture service does.
      GifPicture gif = LoadGif(bytes);
      image_ = std::move(gif.Image);
      transparent_ = !gif.Opaque.ContainsRect(image_.BoundsRect());
      if (transparent_) opaque_ = std::move(gif.Opaque);
    } else {
      image_ = LoadPicture(bytes);
    }
  } catch (const EInvalidGraphic&) {
    throw EInvalidGraphic("Could not load image. Invalid format");
  }
  if (image_.Empty()) throw EInvalidGraphic("Could not load image");
}

void TIPicture::LoadData(std::vector<std::uint8_t> data) {
  data_ = std::move(data);
  frame_ = 1;
  frameCount_ = -1;
  gifWidth_ = 0;
  gifHeight_ = 0;
  empty_ = true;
  try {
    Decode();
  } catch (...) {
    // Nothing half-loaded stays behind: an empty picture saves nothing.
    data_.clear();
    image_ = {};
    info_ = {};
    Changed();
    throw;
  }
  empty_ = false;
  Changed();
}

void TIPicture::LoadFromFile(const std::string& fileName) {
  try {
    const std::string bytes = ReadFileBytes(fileName, kMaxPictureFileBytes);
    LoadData({bytes.begin(), bytes.end()});
  } catch (const std::exception&) {
    if (!data_.empty() || !empty_) Clear();
  }
}

void TIPicture::LoadFromStream(TStream& stream) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stream.Size()));
  stream.SetPosition(0);
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), int64_t(bytes.size()));
  LoadData(std::move(bytes));
}

void TIPicture::LoadFromBytes(std::span<const std::uint8_t> bytes) {
  LoadData({bytes.begin(), bytes.end()});
}

void TIPicture::SaveToStream(TStream& stream) const {
  if (!data_.empty()) stream.WriteBuffer(data_.data(), int64_t(data_.size()));
}

std::unique_ptr<TGraphic> TIPicture::NewEmpty() const {
  return std::make_unique<TIPicture>();
}

void TIPicture::Assign(const TGraphic& source) {
  const auto* picture = dynamic_cast<const TIPicture*>(&source);
  if (picture == nullptr) CannotAssign(source);
  Assign(picture);
}

void TIPicture::Assign(const TIPicture* source) {
  if (source == this) return;
  if (source == nullptr || source->data_.empty()) {
    Clear();
    return;
  }
  LoadData(source->data_);
}

void TIPicture::Clear() {
  data_.clear();
  image_ = {};
  opaque_ = {};
  transparent_ = false;
  info_ = {};
  empty_ = true;
  frame_ = 1;
  frameCount_ = -1;
  gifWidth_ = 0;
  gifHeight_ = 0;
  Changed();
}

int TIPicture::Width() const {
  if (image_.Empty()) return 0;
  // Through the decoded extent in 0.01 mm, as the picture service reports it.
  return MulDiv(MulDiv(image_.Width(), 2540, 96), PixelsPerInchX, 2540);
}

int TIPicture::Height() const {
  if (image_.Empty()) return 0;
  return MulDiv(MulDiv(image_.Height(), 2540, 96), PixelsPerInchY, 2540);
}

void TIPicture::Draw(TCanvas& canvas, const Rect& rect) const {
  DrawTo(*canvas.Handle(), rect);
}

void TIPicture::DrawTo(DC& canvas, const Rect& rect) const {
  if (image_.Empty() || rect.IsEmpty()) return;
  // The source DC only reads the bitmap.
  DC source(const_cast<Bitmap*>(&image_));
  canvas.SaveDC();
  const bool shrinking = rect.Width() < image_.Width() || rect.Height() < image_.Height();
  canvas.SetStretchBltMode(shrinking ? HALFTONE : COLORONCOLOR);
  const int iw = image_.Width();
  const int ih = image_.Height();
  if (!transparent_) {
    canvas.StretchBlt(rect.Left, rect.Top, rect.Width(), rect.Height(), source, 0, 0, iw, ih);
  } else {
    // Each opaque piece goes where the whole picture's scaling puts it.
    const auto X = [&](int x) {
      return rect.Left + static_cast<int>(static_cast<long long>(x) * rect.Width() / iw);
    };
    const auto Y = [&](int y) {
      return rect.Top + static_cast<int>(static_cast<long long>(y) * rect.Height() / ih);
    };
    for (const Rect& r : opaque_.Rects()) {
      const Rect d{X(r.Left), Y(r.Top), X(r.Right), Y(r.Bottom)};
      if (d.IsEmpty()) continue;
      canvas.StretchBlt(d.Left, d.Top, d.Width(), d.Height(), source, r.Left, r.Top, r.Width(),
                        r.Height());
    }
  }
  canvas.RestoreDC(-1);
}

void TIPicture::SetFrame(int frame) {
  frame_ = frame;
  if (!data_.empty()) {
    try {
      Decode();
      empty_ = false;
    } catch (...) {
      empty_ = true;
      throw;
    }
  }
  if (OnFrameChange) OnFrameChange(this);
}

int TIPicture::FrameCount() {
  if (frameCount_ < 0) frameCount_ = static_cast<int>(GifFrameStarts(data_).size());
  return frameCount_;
}

// --- placement ---------------------------------------------------------------------------

std::vector<Rect> PicturePlacement(TPicturePosition position, TStretchMode mode, int W, int H,
                                   int pw, int ph) {
  if (W < 1 || H < 1 || pw < 1 || ph < 1) return {};
  // The fitted size, in exact integer arithmetic so that e.g. 600 x 300 in 300 x 127 gives
  // 254 x 127 and not a float rounding of it.
  int w = pw;
  int h = ph;
  if (pw > W || ph > H) {
    if (static_cast<long long>(pw) * H <= static_cast<long long>(ph) * W) {
      w = static_cast<int>(static_cast<long long>(pw) * H / ph);
      h = H;
    } else {
      w = W;
      h = static_cast<int>(static_cast<long long>(ph) * W / pw);
    }
  }
  const bool shrink = mode == smShrink;
  const int dw = shrink ? w : pw;
  const int dh = shrink ? h : ph;
  switch (position) {
    case bpTopLeft:
      return {Bounds(0, 0, dw, dh)};
    case bpTopRight:
      return {Bounds(std::max(0, W - dw), 0, dw, dh)};
    case bpBottomLeft:
      return {Bounds(0, std::max(0, H - dh), dw, dh)};
    case bpBottomRight:
      if (shrink) return {Rect{std::max(0, W - w), std::max(0, H - h), W, H}};
      return {Bounds(std::max(0, W - pw), std::max(0, H - ph), pw, ph)};
    case bpCenter:
      return {Bounds(std::max(0, W - dw) / 2, std::max(0, H - dh) / 2, dw, dh)};
    case bpTiled: {
      std::vector<Rect> tiles;
      for (int y = 0; y < H; y += ph) {
        for (int x = 0; x < W; x += pw) tiles.push_back(Bounds(x, y, pw, ph));
      }
      return tiles;
    }
    case bpStretched:
      return {Rect{0, 0, W, H}};
    case bpStretchedWithAspect:
      if (static_cast<long long>(pw) * H >= static_cast<long long>(ph) * W) {
        return {Bounds(0, 0, W, static_cast<int>(static_cast<long long>(ph) * W / pw))};
      }
      return {Bounds(0, 0, static_cast<int>(static_cast<long long>(pw) * H / ph), H)};
  }
  return {};
}

// --- TAdvPicture -------------------------------------------------------------------------

TAdvPicture::TAdvPicture(TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 100, 100);
  picture_.OnChange = [this](TGraphic*) { PictureChanged(); };
}

TAdvPicture::~TAdvPicture() {
  StopHelper();
}

void TAdvPicture::SetPicture(const TIPicture& source) {
  picture_.Assign(&source);
}

void TAdvPicture::SetPicturePosition(TPicturePosition value) {
  if (position_ == value) return;
  position_ = value;
  Invalidate();
}

void TAdvPicture::SetStretchMode(TStretchMode value) {
  if (stretchMode_ == value) return;
  stretchMode_ = value;
  Invalidate();
}

void TAdvPicture::SetAutoSize(bool value) {
  autoSize_ = value;
  if (autoSize_ && !picture_.Empty()) SetBounds(Left(), Top(), picture_.Width(), picture_.Height());
}

void TAdvPicture::SetAnimate(bool value) {
  if (animate_ == value) return;
  animate_ = value;
  if (HasState(csDesigning)) return;
  if (animate_) {
    tick_ = 0;
    nextFrameTick_ = 0;
    StartHelper();
  } else {
    StopHelper();
  }
}

void TAdvPicture::StartHelper() {
  if (helper_) return;
  helper_ = std::make_unique<THelperWnd>(*this);
  helper_->HandleNeeded();  // starts the timer
}

void TAdvPicture::StopHelper() {
  helper_.reset();
}

HWND TAdvPicture::HelperWindow() const {
  return helper_ && helper_->HandleAllocated() ? helper_->Handle() : 0;
}

// --- THelperWnd --------------------------------------------------------------------------

THelperWnd::THelperWnd(TAdvPicture& owner) : TWinControl(nullptr), owner_(owner) {
  SetVisibleFlag(false);  // nothing to show
}

THelperWnd::~THelperWnd() {
  // The base destructor would take the window but not stop the timer first.
  DestroyWnd();
}

void THelperWnd::CreateParamsFor(CreateParams& params) {
  TWinControl::CreateParamsFor(params);
  params.MessageOnly = true;
}

void THelperWnd::CreateWnd() {
  TWinControl::CreateWnd();
  SetTimer(Handle(), kAnimationTimerId, kAnimationIntervalMs);
}

void THelperWnd::DestroyWnd() {
  if (HandleAllocated()) KillTimer(Handle(), kAnimationTimerId);
  TWinControl::DestroyWnd();
}

void THelperWnd::WndProc(TMessage& message) {
  if (message.Msg == WM_TIMER && message.WParam == kAnimationTimerId) {
    owner_.Tick();
    message.Result = 0;
    return;
  }
  TWinControl::WndProc(message);
}

void TAdvPicture::Loaded() {
  TGraphicControl::Loaded();
  picture_.PixelsPerInchX = DevicePixelsPerInchX;
  picture_.PixelsPerInchY = DevicePixelsPerInchY;
  animatedGif_ = !picture_.Empty() && IsGifData(picture_.Data()) && picture_.FrameCount() > 1;
}

void TAdvPicture::PictureChanged() {
  if (autoSize_ && !picture_.Empty()) SetBounds(Left(), Top(), picture_.Width(), picture_.Height());
  animatedGif_ = !picture_.Empty() && IsGifData(picture_.Data()) && picture_.FrameCount() > 1;
  picture_.SetFrame(0);
  Invalidate();
}

void TAdvPicture::Invalidate() {
  TGraphicControl::Invalidate();
  if (OnInvalidate) OnInvalidate(Rect{0, 0, Width(), Height()}, false);
}

void TAdvPicture::Tick() {
  if (!animate_ || picture_.Empty() || !animatedGif_) return;
  if (tick_ == nextFrameTick_) {
    const int count = picture_.FrameCount();
    int next = picture_.Frame() + 1;
    if (next > count) next = 1;
    picture_.SetFrame(next);
    // A frame without a delay still shows for one tick: a zero would never be reached
    // again and the animation would stop for good.
    nextFrameTick_ += std::max(1, picture_.FrameDelay());
    if (picture_.FrameDisposal() == 2) {
      // The frame restores to the background: the parent erases just its rectangle.
      const Rect frame = Bounds(picture_.FrameLeft(), picture_.FrameTop(), picture_.FrameWidth(),
                                picture_.FrameHeight());
      if (Parent() != nullptr && Visible()) Parent()->InvalidateArea(frame.Offset(Left(), Top()));
      if (OnInvalidate) OnInvalidate(frame, true);
    } else {
      Invalidate();
    }
    if (OnFrameChange) OnFrameChange(this);
  }
  ++tick_;
}

void TAdvPicture::Paint() {
  PaintTo(Canvas(), ClientRect());
}

void TAdvPicture::PaintTo(DC& canvas, const Rect& client) {
  const int W = client.Width();
  const int H = client.Height();
  if (picture_.Empty() || W < 1 || H < 1) return;
  int pw = picture_.Width();
  int ph = picture_.Height();
  if (picture_.GifScreenWidth() > 0 && picture_.GifScreenHeight() > 0) {
    pw = picture_.GifScreenWidth();
    ph = picture_.GifScreenHeight();
  }
  const std::vector<Rect> rects = PicturePlacement(position_, stretchMode_, W, H, pw, ph);
  canvas.SaveDC();
  canvas.IntersectClipRect(client.Left, client.Top, client.Right, client.Bottom);
  for (const Rect& r : rects) picture_.DrawTo(canvas, r.Offset(client.Left, client.Top));
  canvas.RestoreDC(-1);
}

}  // namespace qv

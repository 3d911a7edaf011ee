// The cover picture control. `TIPicture` keeps a picture file's bytes exactly as loaded
// (so saving writes the same file back) and decodes JPEG, GIF and BMP for display; for a
// GIF with several frames it shows one frame at a time. `TAdvPicture` places the picture
// in its client area (eight positions, optional shrink-to-fit) and animates GIF frames from
// the 10 ms timer of its hidden helper window, `THelperWnd`. Both live on the thread that created
// them (the main thread); the animation ticks arrive through that thread's message queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/cover/advpicture_gif.h"
#include "platform/base/component.h"
#include "platform/classlib/controls.h"
#include "platform/classlib/graphics.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/geometry.h"
#include "platform/gfx/region.h"
#include "platform/msg/messages.h"

namespace qv {

class DC;

class TIPicture final : public TGraphic {
 public:
  TIPicture() = default;

  // Never raises: a missing or undecodable file leaves an empty picture.
  void LoadFromFile(const std::string& fileName);
  // Takes the whole stream; decoding failures raise EInvalidGraphic ("Could not load
  // image. Invalid format", ...) and leave an empty picture.
  void LoadFromStream(TStream& stream) override;
  void LoadFromBytes(std::span<const std::uint8_t> bytes);
  // The stored bytes, unchanged (SaveToFile writes them through a temporary file).
  void SaveToStream(TStream& stream) const override;
  // Copies another picture's bytes and decodes them; null clears. Other graphics raise
  // EConvertError.
  void Assign(const TGraphic& source) override;
  void Assign(const TIPicture* source);
  void Clear();

  [[nodiscard]] bool Empty() const override { return empty_; }
  [[nodiscard]] const std::vector<std::uint8_t>& Data() const { return data_; }
  // The decoded picture's extent at the pixels per inch below (0 when nothing is decoded).
  [[nodiscard]] int Width() const override;
  [[nodiscard]] int Height() const override;
  // The size comes from the picture: these do nothing.
  void SetWidth(int) override {}
  void SetHeight(int) override {}
  [[nodiscard]] const char* ClassName() const override { return "TIPicture"; }
  [[nodiscard]] std::unique_ptr<TGraphic> NewEmpty() const override;

  // Renders the decoded picture into the rectangle, stretched to it.
  void Draw(TCanvas& canvas, const Rect& rect) const override;
  void DrawTo(DC& dc, const Rect& rect) const;

  // GIF frames, 1-based; 0 or 1 shows the first. Setting it re-decodes (raising like
  // LoadFromStream) and raises OnFrameChange.
  [[nodiscard]] int Frame() const { return frame_; }
  void SetFrame(int frame);
  [[nodiscard]] int FrameCount();
  // Of the shown frame (zeros for other files).
  [[nodiscard]] int FrameLeft() const { return info_.Left; }
  [[nodiscard]] int FrameTop() const { return info_.Top; }
  [[nodiscard]] int FrameWidth() const { return info_.Width; }
  [[nodiscard]] int FrameHeight() const { return info_.Height; }
  [[nodiscard]] bool FrameTransparent() const { return info_.Transparent; }
  [[nodiscard]] int FrameDisposal() const { return info_.Disposal; }
  [[nodiscard]] int FrameDelay() const { return info_.Delay; }
  [[nodiscard]] int GifScreenWidth() const { return gifWidth_; }
  [[nodiscard]] int GifScreenHeight() const { return gifHeight_; }

  bool Stretch = false;  // stored only
  int PixelsPerInchX = 96;
  int PixelsPerInchY = 96;

  std::function<void(TIPicture* Sender)> OnFrameChange;
  // OnChange (of TGraphic) fires after every load.

 private:
  void Decode();
  void LoadData(std::vector<std::uint8_t> data);

  std::vector<std::uint8_t> data_;
  bool empty_ = true;
  Bitmap image_;
  Region opaque_;             // of a GIF with transparent pixels: what is drawn
  bool transparent_ = false;  // the decoded picture has pixels that are not drawn
  int frame_ = 1;
  int frameCount_ = -1;
  int gifWidth_ = 0;
  int gifHeight_ = 0;
  TGifFrameInfo info_;
};

enum TPicturePosition {
  bpTopLeft,
  bpTopRight,
  bpBottomLeft,
  bpBottomRight,
  bpCenter,
  bpTiled,
  bpStretched,
  bpStretchedWithAspect
};
enum TStretchMode { smNever, smShrink };

// Where a pw x ph picture goes in a W x H control: one rectangle, or the tiles of bpTiled.
// Empty when the picture or the control has no size.
[[nodiscard]] std::vector<Rect> PicturePlacement(TPicturePosition position, TStretchMode mode,
                                                 int W, int H, int pw, int ph);

class TAdvPicture;

// The animation's clock: a hidden window (of the message layer only, so it needs no display)
// whose timer, 500 every 10 ms, runs from the creation of its handle to its destruction and
// hands each tick to the picture control that made it.
class THelperWnd final : public TWinControl {
 public:
  explicit THelperWnd(TAdvPicture& owner);
  ~THelperWnd() override;
  [[nodiscard]] std::string ClassName() const override { return "THelperWnd"; }

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  void WndProc(TMessage& message) override;

 private:
  TAdvPicture& owner_;  // outlives this window: it owns it
};

class TAdvPicture : public TGraphicControl {
 public:
  // 100 x 100.
  explicit TAdvPicture(TComponent* owner);
  ~TAdvPicture() override;

  [[nodiscard]] TIPicture& Picture() { return picture_; }
  // Copies the bytes of `source`.
  void SetPicture(const TIPicture& source);
  [[nodiscard]] TPicturePosition PicturePosition() const { return position_; }
  void SetPicturePosition(TPicturePosition value);
  [[nodiscard]] TStretchMode StretchMode() const { return stretchMode_; }
  void SetStretchMode(TStretchMode value);
  [[nodiscard]] bool Animate() const { return animate_; }
  void SetAnimate(bool value);
  [[nodiscard]] bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);

  // Takes the device's pixels per inch (set below by the window that owns the device)
  // and notes whether the picture is an animated GIF.
  void Loaded() override;
  int DevicePixelsPerInchX = 96;
  int DevicePixelsPerInchY = 96;
  // Draws the picture as the control would with its client area at `client` on `canvas`
  // (its size stands for the control's size in the placement). Paint uses it.
  void PaintTo(DC& canvas, const Rect& client);
  void PaintTo(TCanvas& canvas, const Rect& client) { PaintTo(*canvas.Handle(), client); }

  std::function<void(TAdvPicture* Sender)> OnFrameChange;
  // Raised after the control asked its parent for a repaint, with the area in client
  // coordinates; `erase`: only a GIF frame that restores to the background, erased.
  std::function<void(const Rect& area, bool erase)> OnInvalidate;

  // Marks the whole control for painting.
  void Invalidate() override;
  // One tick of the animation timer.
  void Tick();
  // The animation's helper window; 0 while `Animate` is off.
  [[nodiscard]] HWND HelperWindow() const;

 protected:
  void Paint() override;

 private:
  void PictureChanged();
  void StartHelper();
  void StopHelper();

  TIPicture picture_;
  TPicturePosition position_ = bpTopLeft;
  TStretchMode stretchMode_ = smNever;
  bool animate_ = false;
  bool autoSize_ = false;
  bool animatedGif_ = false;
  long long tick_ = 0;
  long long nextFrameTick_ = 0;
  std::unique_ptr<THelperWnd> helper_;  // while animating; its timer drives Tick
};

}  // namespace qv

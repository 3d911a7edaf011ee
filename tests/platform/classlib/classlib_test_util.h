// A headless window system and application for one test, with the user's hands: clicks,
// key strokes and typing through the headless back end, then the queue served.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/classlib/forms.h"
#include "platform/gfx/font.h"
#include "platform/msg/pump.h"
#include "platform/ui/headless_backend.h"
#include "platform/ui/window_system.h"

namespace qv::test {

class ClassLibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseBuiltinFontEverywhere(true);
    auto backend =
        std::make_unique<HeadlessBackend>(std::vector<Monitor>{}, std::make_shared<FakeClock>());
    headless = backend.get();
    ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  }

  void TearDown() override {
    DestroyApplication();
    StopWindowSystem();
    UseBuiltinFontEverywhere(false);
  }

  // A shown form of the application at (100, 100).
  TForm* MakeForm(int w = 300, int h = 200) {
    auto* form = Create<TForm>(Application());
    form->SetBorderStyle(TFormBorderStyle::bsNone);
    form->SetBounds(100, 100, w, h);
    return form;
  }
  void ShowForm(TForm* form) {
    form->AfterConstruction();
    form->Show();
    Pump();
  }

  void Pump() { Application()->ProcessMessages(); }

  // Terminating the application ends its thread's loop for good, as the message layer
  // has it; tests that terminate do so on a GUI thread of their own.
  void OnOwnGuiThread(const std::function<void()>& body) {
    DestroyApplication();
    StopWindowSystem();
    std::thread gui([&] {
      auto backend =
          std::make_unique<HeadlessBackend>(std::vector<Monitor>{}, std::make_shared<FakeClock>());
      headless = backend.get();
      ASSERT_TRUE(StartWindowSystem(std::move(backend)));
      body();
      DestroyApplication();
      StopWindowSystem();
    });
    gui.join();
    auto backend =
        std::make_unique<HeadlessBackend>(std::vector<Monitor>{}, std::make_shared<FakeClock>());
    headless = backend.get();
    ASSERT_TRUE(StartWindowSystem(std::move(backend)));
  }

  void Key(unsigned vk, std::string_view text = {}, unsigned modifiers = 0) {
    headless->InjectKey(vk, true, text, modifiers);
    headless->InjectKey(vk, false, {}, modifiers);
    Pump();
  }
  void Type(std::string_view text) {
    for (char c : text) {
      const auto vk = static_cast<unsigned>(std::toupper(static_cast<unsigned char>(c)));
      headless->InjectKey(vk, true, std::string(1, c));
      headless->InjectKey(vk, false);
    }
    Pump();
  }
  Point ScreenPos(TControl* control, Point client) { return control->ClientToScreen(client); }
  void Click(TControl* control, Point client) {
    headless->InjectClick(ScreenPos(control, client));
    Pump();
  }
  void Press(TControl* control, Point client) {
    const Point s = ScreenPos(control, client);
    headless->InjectMouseMove(s);
    headless->InjectButton(s, MouseButton::Left, true);
    Pump();
  }
  void MoveTo(TControl* control, Point client) {
    headless->InjectMouseMove(ScreenPos(control, client));
    Pump();
  }
  void Release(TControl* control, Point client) {
    const Point s = ScreenPos(control, client);
    headless->InjectMouseMove(s);
    headless->InjectButton(s, MouseButton::Left, false);
    Pump();
  }

  HeadlessBackend* headless = nullptr;
};

}  // namespace qv::test

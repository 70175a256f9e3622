// TTermWindow: the settings file, loaded value by value when the window opens and stored at close.
#include "tools/term/TermWindow.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "serial/ComError.h"
#include "serial/extras/ComStrings.h"
#include "serial/extras/IniDocument.h"
#include "serial/extras/PortSettings.h"
#include "serial/extras/SettingsFile.h"
#include "tools/term/TermWindowInternal.h"
#include "widgets/ComTerminal.h"
#include "widgets/TermSettings.h"

namespace term {
namespace {

constexpr const char* kPortSection = "Port";
constexpr const char* kTermSection = "Terminal";
constexpr const char* kWindowSection = "Window";

}  // namespace

// --- the settings file

template <typename S, typename Read, typename Write>
S TTermWindow::ReadSection(const char* section, S settings, Read read, Write write) {
  for (const auto& value : document_.ReadSection(section)) {
    try {
      read(serial::TSettingValues{value}, settings);
    } catch (const serial::EComConvert&) {
      kept_.push_back({section, value.first, value.second, {}});
    }
  }
  // What the window would write for each of them: the default now in use.
  for (TKeptValue& k : kept_) {
    if (k.section != section) continue;
    for (const auto& [name, text] : write(settings)) {
      if (serial::SameText(name, k.key)) k.written = text;
    }
  }
  return settings;
}

void TTermWindow::LoadSettings() {
  TWindowSettings window;
  // The first start finds no file: the defaults are what there is to use, and nothing is wrong.
  if (!QFileInfo::exists(QString::fromStdString(settingsFile_))) {
    ShowWindowSettings(window);
    return;
  }
  try {
    const auto text = serial::ReadSettingsFile(settingsFile_, serial::ecode::kLoadSettings);
    document_ = serial::TIniDocument(text.value_or(""));
    documentRead_ = true;
  } catch (const std::exception& e) {
    ShowWindowSettings(window);
    Status(QStringLiteral("Settings not read, defaults used: %1").arg(Text(e.what())));
    return;
  }
  if (!document_.HasSection(kPortSection) && !document_.HasSection(kTermSection) &&
      !document_.HasSection(kWindowSection)) {
    ShowWindowSettings(window);
    Status(QStringLiteral("Settings not read, defaults used: no [%1], [%2] or [%3] section in %4")
               .arg(kPortSection, kTermSection, kWindowSection, Text(settingsFile_)));
    return;
  }
  // Each value that reads is used; one that does not leaves its setting at the default, and is
  // named.
  window = ReadSection(
      kWindowSection, window,
      [](const serial::TSettingValues& v, TWindowSettings& s) { s = ValuesToWindowSettings(v, s); },
      WindowSettingsToValues);
  widgets::TTermSettings screen = ReadSection(
      kTermSection, terminal_->Settings(),
      [](const serial::TSettingValues& v, widgets::TTermSettings& s) {
        widgets::ValuesToTermSettings(v, s);
      },
      widgets::TermSettingsToValues);
  // Without a line end of its own the emulation's is used.
  const auto lineEnd = document_.ReadString(kTermSection, "ReceiveLineEnd");
  bool lineEndRead = lineEnd.has_value();
  try {
    if (lineEnd) widgets::StrToLineEnd(*lineEnd);
  } catch (const serial::EComConvert&) {
    lineEndRead = false;
  }
  if (!lineEndRead) {
    screen.ReceiveLineEnd =
        NewLineOnCRByDefault(screen.Emulation) ? widgets::tlCRLF : widgets::tlAsIs;
  }
  terminal_->SetSettings(screen);
  const serial::TComPortSettings line = ReadSection(
      kPortSection, serial::GetPortSettings(port_),
      [](const serial::TSettingValues& v, serial::TComPortSettings& s) {
        serial::ValuesToPortSettings(v, s);
      },
      serial::PortSettingsToValues);
  ShowWindowSettings(window);
  try {
    serial::SetPortSettings(port_, line);
  } catch (const std::exception& e) {
    Status(QStringLiteral("Port settings not used: %1").arg(Text(e.what())));
    return;
  }
  if (!kept_.empty()) {
    QStringList names;
    for (const TKeptValue& k : kept_) {
      names << QStringLiteral("[%1] %2=%3").arg(Text(k.section), Text(k.key), Text(k.text));
    }
    Status(QStringLiteral("Settings read but for %1: defaults in their place, and the file keeps "
                          "those lines as they are.")
               .arg(names.join(QStringLiteral(", "))));
  }
}

void TTermWindow::WriteSection(serial::TIniDocument& document, const char* section,
                               const serial::TSettingValues& values) const {
  for (const auto& [key, value] : values) {
    // A line that did not read stays as the operator wrote it while its setting is the
    // default put in its place: a default nobody chose is not written over it.
    const bool kept = std::any_of(kept_.begin(), kept_.end(), [&](const TKeptValue& k) {
      return k.section == section && k.written == value && serial::SameText(k.key, key);
    });
    if (!kept) document.WriteString(section, key, value);
  }
}

bool TTermWindow::SaveSettings() {
  try {
    const QString folder = QFileInfo(QString::fromStdString(settingsFile_)).absolutePath();
    serial::CreateSettingsFolder(folder.toStdString(), serial::ecode::kStoreSettings);
    // The file as it is now, so that what was written in it meanwhile stays. One that cannot be
    // read now is written over the text read when the window opened; one never read is left
    // alone: what it holds is nobody's to lose.
    serial::TIniDocument document = document_;
    try {
      const auto text = serial::ReadSettingsFile(settingsFile_, serial::ecode::kStoreSettings);
      document = serial::TIniDocument(text.value_or(""));
    } catch (const std::exception&) {
      if (!documentRead_) throw;
    }
    WriteSection(document, kPortSection,
                 serial::PortSettingsToValues(serial::GetPortSettings(port_)));
    WriteSection(document, kTermSection, widgets::TermSettingsToValues(terminal_->Settings()));
    WriteSection(document, kWindowSection, WindowSettingsToValues(WindowSettings()));
    serial::ReplaceSettingsFile(settingsFile_, document.Text(), serial::ecode::kStoreSettings);
  } catch (const std::exception& e) {
    Status(QStringLiteral("Settings not stored, cannot write %1: %2")
               .arg(Text(settingsFile_), Text(e.what())));
    return false;
  }
  return true;
}

void TTermWindow::closeEvent(QCloseEvent* event) {
  if (!SaveSettings()) {
    // Closing goes on: the window is going, and standard error is the one place left to tell.
    std::fprintf(stderr, "valtrex-term: %s\n", StatusText().toLocal8Bit().constData());
  }
  QMainWindow::closeEvent(event);
}

}  // namespace term

#include "ui/recent_files.h"

#include <QSettings>
#include <QStringList>

namespace trundle {

namespace {

// "source\t/path" or "destination\t/path": tabs do not occur in the paths people use, and
// an entry holding none is no entry of ours.
constexpr char kKey[] = "RecentFiles";

QSettings Settings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("trundle"),
                   QStringLiteral("trundle"));
}

}  // namespace

QVector<RecentFile> RecentFiles::Load() {
  QVector<RecentFile> files;
  for (const QString& entry : Settings().value(QLatin1String(kKey)).toStringList()) {
    const qsizetype tab = entry.indexOf(QLatin1Char('\t'));
    if (tab < 0) continue;
    const QString end = entry.left(tab);
    const QString path = entry.mid(tab + 1);
    if (path.isEmpty() || (end != QLatin1String("source") && end != QLatin1String("destination")))
      continue;
    const RecentFile file{end == QLatin1String("source"), path};
    if (!files.contains(file)) files.push_back(file);
    if (files.size() == kKept) break;
  }
  return files;
}

void RecentFiles::Store(const QVector<RecentFile>& files) {
  QStringList entries;
  for (const RecentFile& file : files)
    entries << (file.source ? QStringLiteral("source\t") : QStringLiteral("destination\t")) +
                   file.path;
  QSettings settings = Settings();
  settings.setValue(QLatin1String(kKey), entries);
  settings.sync();
}

void RecentFiles::Add(const RecentFile& file) {
  QVector<RecentFile> files = Load();
  files.removeAll(file);
  files.prepend(file);
  if (files.size() > kKept) files.resize(kKept);
  Store(files);
}

void RecentFiles::Remove(const RecentFile& file) {
  QVector<RecentFile> files = Load();
  files.removeAll(file);
  Store(files);
}

void RecentFiles::Clear() { Store({}); }

}  // namespace trundle

#include "platform/settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/paths.h"
#include "core/run_files.h"

namespace qv {

namespace {

QString KeyPath(const std::string& section, const std::string& key) {
  return QString::fromStdString(section) + '/' + QString::fromStdString(key);
}

// A value Qt stores as a serialised variant ("@Variant(...)"): Qt trusts
// the lengths inside it and would allocate whatever they claim. The program
// never writes one, so a file that holds one is not its own.
constexpr char kSerialisedValue[] = "@Variant(";

bool HoldsSerialisedValue(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) && file.read(QtSettingsStore::kMaxFileBytes + 1).contains(kSerialisedValue);
}

// Why a settings file is not read at all, or empty when it can be: too
// large to be one, a pipe or device under its name (reading it would wait
// for a writer), or a serialised value in it.
std::string WhyUnusable(const QString& path) {
  const QFileInfo info(path);
  if (IsSpecialFile(path.toStdString())) return kNotRegularFile;
  if (info.exists() && info.size() > QtSettingsStore::kMaxFileBytes) return "fichier trop grand";
  if (info.exists() && HoldsSerialisedValue(path)) return "valeur codée « @Variant », que le programme n'écrit jamais";
  return "";
}

bool Unusable(const QString& path) { return !WhyUnusable(path).empty(); }

// Removes what settings saves of ended processes left beside `path`: the
// new contents made beside it (path.partPID), their read-back copies
// (.partPID.N), Qt's lock (.partPID.lock) and, on a file system without
// anonymous temporary files, Qt's own temporary names (.partPID.XXXXXX).
// The process number in the name tells whose they are: those of a process
// still running are left alone, this one's included.
void RemoveStaleParts(const QString& path) {
  const QFileInfo info(path);
  const QString prefix = info.fileName() + ".part";
  QDir folder = info.absoluteDir();
  const QStringList names = folder.entryList({prefix + "*"}, QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& name : names) {
    if (!name.startsWith(prefix)) continue;
    const QString rest = name.mid(prefix.size());
    const qsizetype dot = rest.indexOf('.');
    const QString digits = rest.left(dot < 0 ? rest.size() : dot);
    bool number = !digits.isEmpty() && digits.size() <= 10 && !digits.startsWith('0');
    for (const QChar c : digits) number = number && c >= '0' && c <= '9';
    if (!number) continue;
    const long pid = digits.toLong();
    if (pid != QCoreApplication::applicationPid() && ProcessEnded(pid)) folder.remove(name);
  }
}

}  // namespace

std::optional<std::string> MemorySettingsStore::Read(const std::string& section, const std::string& key,
                                                     const std::string& fallback) {
  if (unreadable.count(key)) return std::nullopt;
  const auto it = values.find({section, key});
  return it == values.end() ? fallback : it->second;
}

bool MemorySettingsStore::Write(const std::string& section, const std::string& key, const std::string& value) {
  if (readOnly) return false;
  values[{section, key}] = value;
  writes.emplace_back(key, value);
  return true;
}

std::string MemorySettingsStore::Get(const std::string& section, const std::string& key) const {
  const auto it = values.find({section, key});
  return it == values.end() ? std::string() : it->second;
}

QtSettingsStore::QtSettingsStore(bool readOnly) : readOnly_(readOnly) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
  // The same file QSettings picks for the organisation and application,
  // opened by its name so that its size can be checked before it is parsed
  // and so that no system-wide file stands in for a missing key.
  const QString path =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Quelvista/Quelvista.conf";
  fileName_ = path.toStdString();
  if (Unusable(path)) return;
  Open(std::make_unique<QSettings>(path, QSettings::NativeFormat));
#else
  auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Quelvista", "Quelvista");
  settings->setFallbacksEnabled(false);
  fileName_ = settings->fileName().toStdString();
  Open(std::move(settings));
#endif
}

QtSettingsStore::QtSettingsStore(const std::string& iniPath, bool readOnly) : fileName_(iniPath), readOnly_(readOnly) {
  const QString path = QString::fromStdString(iniPath);
  if (Unusable(path)) return;
  Open(std::make_unique<QSettings>(path, QSettings::IniFormat));
}

QtSettingsStore::~QtSettingsStore() = default;

void QtSettingsStore::Open(std::unique_ptr<QSettings> settings) {
  // The start-up clears what saves cut short by a kill left beside the file.
  if (!settings_) RemoveStaleParts(QString::fromStdString(fileName_));
  settings->setFallbacksEnabled(false);
  settings_ = std::move(settings);
}

std::optional<std::string> QtSettingsStore::Read(const std::string& section, const std::string& key,
                                                 const std::string& fallback) {
  if (!settings_) return fallback;
  const QString path = KeyPath(section, key);
  if (!settings_->contains(path)) return fallback;
  const QVariant v = settings_->value(path);
  switch (v.typeId()) {
    case QMetaType::QString:
      return v.toString().toStdString();
    case QMetaType::QStringList:
      // The INI reader splits an unquoted value at its commas; a number
      // written by hand with a decimal comma ("0,75") comes back as a list
      // and is put together again.
      return v.toStringList().join(',').toStdString();
    case QMetaType::QByteArray:
      return v.toByteArray().toStdString();
    default:
      // Typed values ("@Variant(...)", "@Invalid()") are not text: the read
      // fails and the caller keeps what it had.
      if (v.isValid() && v.canConvert<QString>()) return v.toString().toStdString();
      return std::nullopt;
  }
}

bool QtSettingsStore::Write(const std::string& section, const std::string& key, const std::string& value) {
  if (readOnly_ || !settings_) return false;
  // Qt's own save renames its temporary file into place even when writing
  // it failed (a full disk), which would leave a cut settings file. So the
  // new contents are made in a file of our own beside the real one, read
  // back whole, and only then renamed over it; the store's own object never
  // holds an unsaved change, so it never writes the file itself.
  const QString path = QString::fromStdString(fileName_);
  const QString part = path + ".part" + QString::number(QCoreApplication::applicationPid());
  const QSettings::Format format = settings_->format();
  // Always a string: QSettings then quotes and escapes it so that exactly
  // this text reads back (leading blanks, commas, backslashes, "@").
  const QString k = KeyPath(section, key);
  const QString v = QString::fromStdString(value);
  QDir().mkpath(QFileInfo(path).absolutePath());
  RemoveStaleParts(path);
  QFile::remove(part);
  bool ok = !QFileInfo::exists(path) || QFile::copy(path, part);
  if (ok) {
    QSettings next(part, format);
    next.setFallbacksEnabled(false);
    next.setValue(k, v);
    next.sync();
    ok = next.status() == QSettings::NoError;
  }
  if (ok) {
    // Qt keeps what it wrote in memory under the file's name, so the bytes
    // on disk are read back under a name it has never seen.
    static int checks = 0;
    const QString check = part + "." + QString::number(++checks);
    QFile::remove(check);
    ok = QFile::copy(part, check);
    {
      QSettings before(path, format), after(check, format);
      before.setFallbacksEnabled(false);
      after.setFallbacksEnabled(false);
      QStringList keys = before.allKeys();
      if (!keys.contains(k)) keys << k;
      ok = ok && after.status() == QSettings::NoError && after.allKeys().size() == keys.size();
      for (const QString& each : keys) ok = ok && after.value(each) == (each == k ? QVariant(v) : before.value(each));
    }
    QFile::remove(check);
  }
  ok = ok && std::rename(part.toLocal8Bit().constData(), path.toLocal8Bit().constData()) == 0;
  if (!ok) QFile::remove(part);
  // A fresh object reads what the file now holds.
  auto reread = std::make_unique<QSettings>(path, format);
  Open(std::move(reread));
  return ok;
}

std::unique_ptr<SettingsStore> OpenSettingsStore(const std::string& iniPath, bool readOnly, std::string& why) {
  why.clear();
  if (iniPath.empty()) {
    auto store = std::make_unique<QtSettingsStore>(readOnly);
    if (!store->Usable())
      why = "réglages de l'utilisateur ignorés (" + WhyUnusable(QString::fromStdString(store->FileName())) +
            ") : " + store->FileName();
    return store;
  }
  std::error_code ec;
  const auto status = std::filesystem::status(iniPath, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    why = std::string("fichier de réglages illisible (") + kNotRegularFile + ") : " + iniPath;
    return nullptr;
  }
  if (ec || !std::filesystem::is_regular_file(status) || !std::ifstream(iniPath, std::ios::binary)) {
    why = "fichier de réglages illisible : " + iniPath;
    return nullptr;
  }
  const auto size = std::filesystem::file_size(iniPath, ec);
  if (ec || size > static_cast<uintmax_t>(QtSettingsStore::kMaxFileBytes)) {
    why = "fichier de réglages trop grand : " + iniPath;
    return nullptr;
  }
  if (HoldsSerialisedValue(QString::fromStdString(iniPath))) {
    why = "fichier de réglages illisible (" + WhyUnusable(QString::fromStdString(iniPath)) + ") : " + iniPath;
    return nullptr;
  }
  return std::make_unique<QtSettingsStore>(iniPath, readOnly);
}

std::string ProgramFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && exe.has_parent_path()) return exe.parent_path().string();
  const auto here = std::filesystem::current_path(ec);
  return ec ? std::string() : here.string();
}

}  // namespace qv

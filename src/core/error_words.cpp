#include "core/error_words.h"

#include <cerrno>

#include "core/paths.h"

namespace qv {

namespace {

bool Writing(FileTask task) {
  return task == FileTask::Write || task == FileTask::Temporary || task == FileTask::ProjectSave;
}

// Errors of the file itself, met while it is opened, read or written, as
// opposed to those of the numbers the program computes from it.
bool FileLevel(int number) {
  switch (number) {
    case kErrBadFileName:
    case kErrFileNotFound:
    case kErrFileAlreadyExists:
    case kErrDiskFull:
    case kErrInputPastEnd:
    case kErrPermissionDenied:
    case kErrPathAccess:
      return true;
    default:
      return false;
  }
}

// How the sentence names the file: "en écrivant FICHIER".
std::string Doing(int number, FileTask task) {
  switch (task) {
    case FileTask::Read:
      return "en lisant";
    case FileTask::Process:
      return FileLevel(number) ? "en lisant" : "en traitant";
    case FileTask::Write:
      return "en écrivant";
    case FileTask::Temporary:
      return "en écrivant dans le dossier temporaire";
    case FileTask::ProjectLoad:
      return "en lisant le projet";
    case FileTask::ProjectSave:
      return "en enregistrant le projet";
    case FileTask::Combine:
      return "en relisant les fichiers temporaires du dossier";
  }
  return "avec";
}

struct Sentence {
  const char* what;
  std::string todo;
};

Sentence Explain(int number, FileTask task) {
  const bool writing = Writing(task);
  const bool project = task == FileTask::ProjectLoad;
  const char* fixLine = "corrigez cette ligne du projet, ou enregistrez-le de nouveau depuis le programme";
  switch (number) {
    case kErrInvalidCall:
    case kErrNoSuchControl:
    case kErrInvalidPropertyValue:
      return {"valeur refusée",
              project ? "la boîte de guidage doit valoir 32, 64 ou 128 et le curseur de niveau 0 à 20 ; " +
                            std::string(fixLine)
                      : "vérifiez les réglages et recommencez"};
    case kErrOverflow:
      if (project) return {"nombre hors limites", fixLine};
      if (writing) return {"nombre hors limites", "une valeur ne tient pas dans le fichier ; vérifiez les réglages"};
      if (task == FileTask::Combine)
        return {"nombre hors limites",
                "les décalages ou les angles des images sont trop grands ; vérifiez les marques des images"};
      return {"nombre hors limites",
              "l'en-tête ou les pixels portent une valeur que le programme ne sait pas représenter, ou les "
              "réglages (dark, PLU, seuils) la font déborder ; vérifiez le fichier et les réglages"};
    case kErrOutOfMemory:
      if (project)
        return {"mémoire insuffisante",
                "le projet a une ligne trop longue ou trop d'images ; vérifiez que c'est bien un projet"};
      return {"mémoire insuffisante",
              "fermez d'autres programmes, ou travaillez sur des images plus petites (fusion 2x2)"};
    case kErrSubscript:
      if (project) return {"valeur hors des bornes attendues", fixLine};
      if (task == FileTask::Combine)
        return {"dimensions incohérentes", "une image empilée n'a pas la taille de la première ; retirez-la"};
      if (writing) return {"dimensions incohérentes", "l'image à enregistrer est incomplète ; traitez-la de nouveau"};
      return {"dimensions incohérentes",
              "l'image n'a pas la taille que dit son en-tête, ou les fichiers maîtres (dark, PLU, masque) n'ont "
              "pas sa taille ; vérifiez-les"};
    case kErrDivisionByZero:
      return {"taille d'image nulle",
              project ? "une image du projet a une largeur ou une hauteur d'un pixel ; " + std::string(fixLine)
                      : "l'image doit avoir au moins 2 pixels de large et de haut"};
    case kErrTypeMismatch:
      return {"un nombre attendu n'en est pas un",
              project ? fixLine : "le fichier est endommagé ou d'un format que le programme ne lit pas"};
    case kErrBadFileName:
      return {"nom de fichier incorrect", "choisissez un nom non vide, sans caractère interdit"};
    case kErrFileNotFound:
      return {"fichier introuvable", writing ? "le dossier n'existe pas ; créez-le ou choisissez-en un autre"
                                             : "vérifiez le nom et le dossier, ou que le disque est branché"};
    case kErrFileAlreadyExists:
      return {"un fichier de ce nom existe déjà", "choisissez un autre nom ou supprimez l'ancien fichier"};
    case kErrDiskFull:
      if (task == FileTask::Temporary || task == FileTask::Combine)
        return {"disque plein",
                "libérez de la place dans le dossier temporaire, ou désignez-en un autre avec la variable "
                "d'environnement TMPDIR"};
      return {"disque plein", "libérez de la place ou choisissez un autre dossier"};
    case kErrInputPastEnd:
      if (project)
        return {"le fichier s'arrête avant la fin attendue",
                "il a été coupé ; enregistrez le projet de nouveau depuis le programme"};
      return {"fin de fichier atteinte",
              "le fichier est tronqué ou endommagé (copie interrompue ?) ; copiez-le de nouveau depuis sa source, ou "
              "retirez-le de la liste"};
    case kErrPermissionDenied:
      return {"permission refusée", writing ? "le fichier est protégé ou ouvert par un autre programme ; "
                                              "fermez-le ou choisissez un autre nom"
                                            : "donnez-vous le droit de lire ce fichier"};
    case kErrPathAccess:
      if (task == FileTask::Temporary)
        return {"accès refusé",
                "le dossier temporaire est protégé en écriture ou n'existe pas ; désignez-en un autre avec la "
                "variable d'environnement TMPDIR"};
      return {"accès refusé", writing ? "le dossier est protégé en écriture ou n'existe pas ; choisissez un "
                                        "autre dossier"
                                      : "le chemin n'est pas lisible (droits, ou ce n'est pas un fichier "
                                        "ordinaire) ; vérifiez-le"};
    default:
      return {"erreur inattendue", "réessayez ; si elle revient, notez ce que vous faisiez et signalez-la"};
  }
}

}  // namespace

std::string ErrorWords(int number, const std::string& file, FileTask task) {
  const Sentence s = Explain(number, task);
  std::string text = s.what;
  if (!file.empty()) {
    text += ' ';
    text += Doing(number, task);
    text += ' ';
    text += file;
  }
  text += " : ";
  text += s.todo;
  return text;
}

int ErrorNumberOfSystem(int systemError) {
  switch (systemError) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrDiskFull;
    case ENOENT:
      return kErrFileNotFound;
    case ENOMEM:
      return kErrOutOfMemory;
    default:
      return kErrPathAccess;
  }
}

std::string OutcomeWords(const Outcome& o, const std::string& file, FileTask task) {
  if (o.err == 0) return o.why;
  std::string text = ErrorWords(o.err, file, task);
  // A reason more precise than the number's own words ("n'est pas un
  // fichier ordinaire") says what happened better than the number does.
  const std::string what = Explain(o.err, task).what;
  if (!o.why.empty() && LCase(o.why) != LCase(ErrorText(o.err)) && LCase(o.why) != what &&
      o.err != kErrFileAlreadyExists)
    text.insert(what.size(), " (" + o.why + ")");
  return text;
}

std::string WithoutPath(const std::string& words, const std::string& path) {
  const std::string tail = " : " + path;
  return !path.empty() && words.ends_with(tail) ? words.substr(0, words.size() - tail.size()) : words;
}

std::string TemporaryFolderShown() {
  const std::string& folder = TempFolder();
  return folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
}

}  // namespace qv

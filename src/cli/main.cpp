// quelvista-cli: the engine from the command line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "core/run_files.h"
#include "io/file.h"
#include "workspace/option_table.h"

namespace {

const char* kUsage =
    "usage : quelvista-cli <commande> [options]\n"
    "\n"
    "commandes :\n"
    "  header FICHIER\n"
    "      lit l'en-tête d'une image et l'affiche en JSON\n"
    "  process FICHIER [--dark F] [--flat F] [--mask F] [--step N] [--set CLE=VALEUR]... [--settings FICHIER.ini]\n"
    "                  [--zone ZONES] [--out SORTIE.fts|.tif] [--force-fits] [--planes SORTIE.raw]\n"
    "      traite une image et affiche le résultat en JSON\n"
    "  simulate --out DOSSIER [--frames N] [--width W] [--height H] [--stars N] [--seed S] [--drift DX,DY]\n"
    "           [--rotation DEGRES] [--hot-pixels] [--vignetting] [--calibrated] [--calibration-frames N]\n"
    "           [--cloud K] [--dither PX] [--dither-angle DEGRES] [--other-field K]\n"
    "           [--colour mono|rgb|cfa|split] [--bitpix 8|16|32|-32|-64] [--format fits|tif|bmp|jpg]\n"
    "           [--seeing POSE:FWHM] [--trail POSE[:SAT]] [--trail-flux ADU]\n"
    "      écrit des poses simulées d'un champ d'étoiles, truth.json et project.txt\n"
    "      (simulate --help : les unités et les limites de chaque option)\n"
    "  stack PROJET.txt [--out RESULTAT] | stack IMAGE...|DOSSIER --guide X,Y|auto [--box 32|64|aucun]\n"
    "        [--out RESULTAT] [--dark F] [--flat F] [--mask F] [--force-fits] [--no-space-check]\n"
    "        [--mark auto] [--rotation auto] [--keep-unmarked] [--max-fwhm FACTEUR]\n"
    "        [--reject aucun|sigma|winsor] [--kappa BAS,HAUT] [--normalise] [--normalise-output]\n"
    "        [--settings F.ini] [--set CLE=VALEUR]... [--first N --last M] [--expand 0|1] [--save-project P.txt]\n"
    "      empile les images et écrit le résultat (FITS, ou TIFF pour .tif) ; sans --out, à côté de la\n"
    "      première image, sous le début commun des noms des images suivi de .fts\n"
    "      --max-fwhm F (1 à 5) : le repérage automatique décoche les images dont les étoiles sont plus\n"
    "      larges que F fois la FWHM médiane ; --reject écarte, pixel par pixel, les valeurs à plus de\n"
    "      --kappa écarts-types (3,3 par défaut) de la médiane des images ; --normalise ramène le fond de\n"
    "      chaque image à celui de la première pour ce test (sans --reject, --normalise n'a aucun effet)\n"
    "      les fichiers temporaires vont dans TMPDIR (sinon /tmp) : sans assez de place pour eux, la commande\n"
    "      s'arrête avant de commencer (code 1), sauf avec --no-space-check ; code 3 quand le résultat est\n"
    "      écrit sans toutes les images acceptées (dossier temporaire plein en cours de route)\n"
    "        [options de rendu, comme pour render]\n"
    "  render RESULTAT.fts|.tif --out SORTIE.jpg|.bmp|.fts|.tif [--settings F.ini] [--levels C:NOIR:BLANC]\n"
    "         [--curve P] [--detail S1,S2,S3] [--mode couleur|monochrome|echelle] [--slope N] [--hide-max]\n"
    "         [--fill] [--mirror] [--bin 2|3] [--rotate90 N] [--balance X,Y] [--clean-radius N] [--zoom POURCENT]\n"
    "         [--auto]\n"
    "      relit un résultat, le rend comme l'éditeur et l'écrit (options appliquées dans l'ordre donné) ;\n"
    "      --auto fait comme le bouton \"Étirement auto\" : niveaux et courbe choisis d'après l'image\n"
    "  master dark|flat|mask FICHIER...|DOSSIER --out MAITRE.fts [--dark BIAS.fts]\n"
    "      combine des darks, des plages (PLU) ou des masques en un maître FITS 16 bits\n"
    "  settings [--settings FICHIER.ini]\n"
    "      affiche les réglages en JSON\n"
    "  project show PROJET.txt [--settings FICHIER.ini]\n"
    "      charge un projet et l'affiche en JSON\n"
    "  project save PROJET.txt SORTIE.txt [--settings FICHIER.ini]\n"
    "      charge un projet et l'enregistre à nouveau\n"
    "  tiff-all PROJET.txt [--settings FICHIER.ini]\n"
    "      enregistre toutes les images du projet en TIFF (sans écraser un TIFF existant)\n"
    "  fits-header FICHIER.fts\n"
    "      affiche les cartes de l'en-tête FITS\n"
    "  --version\n"
    "      affiche la version\n"
    "\n"
    "quelvista-cli COMMANDE --help : l'aide d'une commande.\n"
    "Un dossier donné à la place d'images est remplacé par ses images, dans l'ordre des noms.\n";

// The keys --set accepts, one line each from the option table (keys that
// share a line with an earlier one have none), then the bits of UseMask;
// for process and stack, and the full --help.
std::string SettingsHelp() {
  std::string text = "\nréglages (--set CLE=VALEUR, nombres avec \".\" comme séparateur décimal) :\n";
  for (const qv::OptionRow& row : qv::OptionTable()) {
    if (!row.help) continue;
    std::string keys = row.helpKeys ? row.helpKeys : row.key;
    // The texts start in one column; keys too long for it are followed by two blanks.
    keys += keys.size() < 14 ? std::string(14 - keys.size(), ' ') : std::string("  ");
    text += "  " + keys + row.help + "\n";
  }
  return text +
         "bits de UseMask :\n"
         "  0x1 pixels chauds par calcul     0x2 pixels chauds par masque   0x4 remplissage après calcul\n"
         "  0x8 découpage de la bordure      0x10 format de pixel autre     0x20 remplissage après masque\n"
         "  0x40 monochrome (un seul plan)   0x80 images en couleur seulement\n"
         "  0x200 fusion 2 x 2               0x400 mélange progressif       0x800, 0x1000 filtre médiane (0..3)\n"
         "  0x2000 découpage circulaire      0x4000 enlèvement du gradient  0x8000 dark  0x10000 PLU\n";
}

// The part of the usage text that describes one command.
std::string CommandHelp(const std::string& command) {
  const std::string usage = kUsage;
  size_t at = usage.find("\n  " + command + " ");
  if (at == std::string::npos) at = usage.find("\n  " + command + "\n");
  if (at == std::string::npos) return std::string();
  // The command's lines run to the next line that starts another command.
  size_t end = at + 1;
  while (true) {
    const size_t next = usage.find('\n', end);
    if (next == std::string::npos || next + 3 >= usage.size()) break;
    end = next + 1;
    if (usage.compare(end, 2, "  ") == 0 && usage[end + 2] != ' ') break;
    if (usage[end] == '\n') break;
  }
  return "usage :\n" + usage.substr(at + 1, end - at - 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    if (argc >= 2) std::fputs(SettingsHelp().c_str(), stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  if (command == "--version") {
    std::fputs("quelvista-cli " QUELVISTA_VERSION "\n", stdout);
    return 0;
  }
  const qvcli::Args args(argv + 2, argv + argc);
  // For the tests, a disk that fills: QUELVISTA_TEST_WRITE_BUDGET=BYTES[:ERROR]
  // lets the files the tool writes take BYTES bytes in all; the write that
  // goes beyond fails with the run-time error ERROR (61, a full disk, when
  // not given; 0 bytes and 75 stand for a folder that cannot be written).
  std::optional<qv::ScopedWriteBudget> budget;
  if (const char* given = std::getenv("QUELVISTA_TEST_WRITE_BUDGET")) {
    char* end = nullptr;
    const long long bytes = std::strtoll(given, &end, 10);
    const int error = *end == ':' ? std::atoi(end + 1) : qv::kErrDiskFull;
    budget.emplace(bytes, error);
  }
  const bool help = std::find(args.begin(), args.end(), "--help") != args.end() ||
                    std::find(args.begin(), args.end(), "-h") != args.end();
  // These two commands give a help of their own, longer than their lines here.
  if (help && command != "master" && command != "simulate") {
    const std::string text = CommandHelp(command);
    if (!text.empty()) {
      std::fputs(text.c_str(), stdout);
      if (command == "process" || command == "stack") std::fputs(SettingsHelp().c_str(), stdout);
      return 0;
    }
  }
  // What runs killed before their end left in the temporary folder goes
  // now; the files of runs still going are left alone.
  qv::SweepOrphanedRunFiles();
  if (command == "master") return qvcli::CmdMaster(args);
  if (command == "header") return qvcli::CmdHeader(args);
  if (command == "process") return qvcli::CmdProcess(args);
  if (command == "simulate") return qvcli::CmdSimulate(args);
  if (command == "stack") return qvcli::CmdStack(args);
  if (command == "render") return qvcli::CmdRender(args);
  if (command == "project") return qvcli::CmdProject(args);
  if (command == "settings") return qvcli::CmdSettings(args);
  if (command == "tiff-all") return qvcli::CmdTiffAll(args);
  if (command == "fits-header") return qvcli::CmdFitsHeader(args);
  qvcli::Complain("commande inconnue : " + command);
  std::fputs(kUsage, stderr);
  return 2;
}

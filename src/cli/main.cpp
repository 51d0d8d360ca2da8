// quelvista-cli: the engine from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"

namespace {

const char* kUsage =
    "usage : quelvista-cli <commande> [options]\n"
    "\n"
    "commandes :\n"
    "  header FICHIER\n"
    "      lit l'en-tête d'une image et l'affiche en JSON\n"
    "  process FICHIER [--step N] [--set CLE=VALEUR]... [--settings FICHIER.ini]\n"
    "                  [--zone ZONES] [--out SORTIE.fts] [--planes SORTIE.raw]\n"
    "      traite une image et affiche le résultat en JSON\n"
    "  simulate --out DOSSIER [--frames N] [--width W] [--height H] [--seed S] [--drift DX,DY]\n"
    "           [--rotation DEGRES] [--hot-pixels] [--vignetting] [--calibrated] [--cloud K]\n"
    "           [--dither PX] [--dither-angle DEGRES] [--other-field K]\n"
    "           [--colour mono|rgb|cfa|split] [--bitpix 8|16|32|-32|-64] [--format fits|tif|bmp|jpg]\n"
    "      écrit des poses simulées d'un champ d'étoiles, truth.json et project.txt\n"
    "  stack PROJET.txt --out RESULTAT | stack IMAGE... --guide X,Y|auto [--box 32|64|aucun] --out RESULTAT\n"
    "        [--mark auto] [--rotation auto] [--keep-unmarked]\n"
    "        [--settings F.ini] [--set CLE=VALEUR]... [--first N --last M] [--expand 0|1] [--save-project P.txt]\n"
    "      empile les images et écrit le résultat (FITS, ou TIFF pour .tif)\n"
    "        [options de rendu, comme pour render]\n"
    "  render RESULTAT.fts|.tif --out SORTIE.jpg|.bmp|.fts|.tif [--settings F.ini] [--levels C:NOIR:BLANC]\n"
    "         [--curve P] [--detail S1,S2,S3] [--mode couleur|monochrome|echelle] [--slope N] [--hide-max]\n"
    "         [--fill] [--mirror] [--bin 2|3] [--rotate90 N] [--balance X,Y] [--clean-radius N] [--zoom POURCENT]\n"
    "      relit un résultat, le rend comme l'éditeur et l'écrit (options appliquées dans l'ordre donné)\n"
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
    "      affiche la version\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  if (command == "--version") {
    std::fputs("quelvista-cli " QUELVISTA_VERSION "\n", stdout);
    return 0;
  }
  const qvcli::Args args(argv + 2, argv + argc);
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

#include <cstdio>

#include "cli/commands.h"
#include "sim/simulate.h"

namespace qvcli {

namespace {

// Every option, with its unit, its limits and its default.
const char* kSimulateHelp =
    "usage : quelvista-cli simulate --out DOSSIER [options]\n"
    "  écrit des poses simulées d'un champ d'étoiles (frame001.fts, ...), truth.json (la dérive, la\n"
    "  rotation et l'étoile guide de chaque pose, avec --seeing ou --trail sa FWHM et les deux bouts de\n"
    "  sa traînée, et chaque étoile) et project.txt (un projet prêt : les\n"
    "  poses cochées, l'étoile guide marquée sur la première, le dark et la PLU exacts s'ils sont écrits)\n"
    "\n"
    "  --out DOSSIER             dossier écrit, créé s'il n'existe pas\n"
    "  --frames N                nombre de poses, 1 à 1000 (10)\n"
    "  --width W --height H      taille des poses en pixels, 64 à 16384 chacune (640 x 480)\n"
    "  --stars N                 nombre d'étoiles en plus de l'étoile guide, 0 à 100000 (150)\n"
    "  --seed S                  graine entière : les mêmes options écrivent les mêmes fichiers (1)\n"
    "  --drift DX,DY             dérive d'une pose à la suivante, en pixels, -50 à 50 chacune (1.37,-0.83)\n"
    "  --rotation DEGRES         rotation du champ d'une pose à la suivante, en degrés, -10 à 10 (0)\n"
    "  --dither PX               décalage aléatoire de chaque pose après la première, en pixels, jusqu'à PX\n"
    "                            en x et en y, ajouté à la dérive, 0 à 200 (0)\n"
    "  --dither-angle DEGRES     rotation aléatoire de chaque pose après la première, en degrés, jusqu'à\n"
    "                            DEGRES, ajoutée à --rotation, 0 à 180 (0)\n"
    "  --cloud K                 la pose numéro K (1 à 1000) est voilée : ses étoiles à 2 % de leur éclat\n"
    "  --other-field K           la pose numéro K (1 à 1000) montre une autre partie du ciel\n"
    "  --hot-pixels              pixels chauds (un pour 3000 pixels) et signal thermique de 300 ;\n"
    "                            écrit aussi le dark exact, dark.fts\n"
    "  --vignetting              vignetage, 35 % de lumière en moins aux coins ; écrit aussi la PLU\n"
    "                            exacte, flat.fts\n"
    "  --calibrated              --hot-pixels et --vignetting\n"
    "  --calibration-frames N    écrit aussi N darks (darks/, avec bruit de lecture) et N PLU (flats/,\n"
    "                            avec bruit de photons, chacune plus lumineuse que la précédente), 1 à\n"
    "                            1000, pour master ; sans --hot-pixels ni --vignetting, ce sont ceux\n"
    "                            d'une caméra sans signal thermique ni vignetage\n"
    "  --seeing K:FWHM           la pose numéro K a des étoiles de FWHM pixels au lieu de celle de la nuit\n"
    "                            (3.53), même éclat total ; FWHM de 1 à 30 ; répétable, une par pose\n"
    "  --trail K[:S]             une traînée de satellite traverse la pose numéro K d'un bord à l'autre :\n"
    "                            une ligne droite fine (FWHM 1.5 pixel), ajoutée avant le bruit ; répétable.\n"
    "                            La ligne est fixe sur le ciel (angle et position tirés de la graine) : les\n"
    "                            poses qui l'ont la montrent au même endroit du ciel, déplacée avec la\n"
    "                            dérive, la rotation et le décalage de chacune. S, le numéro du satellite\n"
    "                            (1 par défaut) : chaque satellite a sa propre ligne\n"
    "  --trail-flux ADU          éclat de la traînée au sommet de son profil, 1 à 65535 (3000)\n"
    "  --colour mono|rgb|cfa|split  un plan, trois plans, une matrice de Bayer brute (RAW), ou un\n"
    "                            fichier par couleur (frame001r.fts, frame001g.fts, frame001b.fts) (mono)\n"
    "  --bitpix 8|16|32|-32|-64  échantillons des FITS, en bits (-32 et -64 : virgule flottante) (16)\n"
    "  --format fits|tif|bmp|jpg format des poses (fits) ; cfa et split n'existent qu'en FITS ; darks\n"
    "                            et PLU sont toujours écrits en FITS\n"
    "\n"
    "  Affiche une ligne JSON : frames, dark, flat, darks et flats (avec --calibration-frames), truth,\n"
    "  project, et note quand des poses de calibration sont écrites en FITS malgré --format.\n";

}  // namespace

int CmdSimulate(const Args& args) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") {
      std::fputs(kSimulateHelp, stdout);
      return 0;
    }
  qvsim::SimOptions o;
  std::string why;
  if (!qvsim::ParseOptions(args, o, why)) {
    Complain(why);
    return 2;
  }
  qvsim::SimRecord record;
  const int status = qvsim::Simulate(o, record, why);
  if (!why.empty()) Complain(why);
  if (status != 0) return status;
  // One JSON line: every file written, by role.
  JsonObject j;
  j.AddRaw("frames", JsonList(record.frames)).Add("dark", record.dark).Add("flat", record.flat);
  if (o.calibrationFrames > 0) j.AddRaw("darks", JsonList(record.darks)).AddRaw("flats", JsonList(record.flats));
  j.Add("truth", record.truth).Add("project", record.project);
  if (!record.note.empty()) {
    j.Add("note", record.note);
    Complain("attention : " + record.note);
  }
  std::printf("%s\n", j.Text().c_str());
  return 0;
}

}  // namespace qvcli

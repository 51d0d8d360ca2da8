// A synthetic sky, seeded: frames of a star field with a known drift,
// rotation, defects and cloud, with the record of where every star was and
// a ready project. The command-line tool, the tests and the benchmarks use it.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qvsim {

struct SimOptions {
  std::string out;
  int frames = 10, width = 640, height = 480, stars = 150, bitpix = 16;
  unsigned seed = 1;
  bool hotPixels = false, vignetting = false;
  int cloud = 0;                         // frame hidden by cloud (0: none)
  double rotation = 0;                   // field rotation per frame, degrees
  double driftX = 1.37, driftY = -0.83;  // drift per frame, pixels
  double dither = 0;                     // random shift of each frame, up to this many pixels
  double ditherAngle = 0;                // random turn of each frame, up to this many degrees
  int otherField = 0;                    // frame that shows another part of the sky (0: none)
  std::string colour = "mono";           // mono, rgb, cfa, split
  std::string format = "fits";           // fits, tif, bmp, jpg
  int calibrationFrames = 0;             // darks and flats written for masters, each with its own noise
  std::map<int, double> seeing;          // frame -> FWHM of its stars in pixels, for frames seen worse or better
  std::map<int, int> trails;             // frame crossed by a satellite's trail -> that satellite (1, 2...)
  double trailFlux = 3000;               // a trail's peak, ADU above the sky
};

// The FWHM in pixels of the stars of a night whose frames have no --seeing.
double NightFwhm();

// What a simulation wrote, by role.
struct SimRecord {
  std::vector<std::string> frames;
  std::string dark, flat;                 // the exact masters ("" when not asked for)
  std::vector<std::string> darks, flats;  // the noisy frames of --calibration-frames
  std::string truth, project;
  std::string note;  // what was written otherwise than asked
};

// Reads the command-line options of the simulator; false, with the
// message in `why`, for an option that is unknown or out of range.
bool ParseOptions(const std::vector<std::string>& args, SimOptions& o, std::string& why);

// Writes the frames, the masters asked for, truth.json and project.txt
// into o.out. Returns 0 with every file written in `written` (frames,
// then truth.json, then the project), 1 with the message in `why` (empty
// when a master file could not be written), or 2, before anything is
// written, when the options ask for a sky that cannot be drawn (a trail
// that would miss one of its frames).
int Simulate(const SimOptions& o, std::vector<std::string>& written, std::string& why);
int Simulate(const SimOptions& o, SimRecord& record, std::string& why);

}  // namespace qvsim

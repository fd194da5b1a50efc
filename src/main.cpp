// dwt97: one level of the separable 2-D CDF 9/7 wavelet transform of the
// 8-bit grayscale bitmap "quilgray.bmp", written as raw sub-band bytes to
// "quilout.dat". No command line, no environment, no configuration.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "dwt97/bitmap.h"
#include "dwt97/filterbank.h"

namespace {

const char* const kInputName = "quilgray.bmp";
const char* const kOutputName = "quilout.dat";

struct termios savedTerminal;

// Puts the terminal back, then lets the signal end the process as it would have.
void restoreTerminalAndReraise(int signalNumber) {
  tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

// Waits for one key press when someone can press one: with standard input a
// terminal, prompts on standard error and reads one byte without echo and
// without waiting for Enter, then restores the terminal (also when a signal
// interrupts the wait). Otherwise returns at once, silently.
void pauseForKey() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
  std::fputs("Press any key to continue . . . ", stderr);
  std::fflush(stderr);
  std::fflush(stdout);

  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  struct sigaction restore {}, previous[4];
  restore.sa_handler = restoreTerminalAndReraise;
  sigemptyset(&restore.sa_mask);
  for (int k = 0; k < 4; ++k) sigaction(signals[k], &restore, &previous[k]);

  struct termios raw = savedTerminal;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
    unsigned char key;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
  }
  for (int k = 0; k < 4; ++k) sigaction(signals[k], &previous[k], nullptr);
  std::fputs("\n", stderr);
}

}  // namespace

using dwt97::PlaneBuffer;
using dwt97::planeAllocate;
using dwt97::planeRelease;

int main() {
  Bitmap bmp;
  bmpLoad(&bmp, kInputName);
  const std::int32_t width = bmp.width;
  const std::int32_t height = bmp.height;

  PlaneBuffer source = planeAllocate(width, height, "main");
  bmpReadPlane(&bmp, kInputName, source.rows);
  // The samples come from the re-read; the record's pixel buffer is not read
  // again, and giving it back keeps the run's peak memory down.
  bmpRelease(&bmp);

  // Each buffer is taken just before its first use and given back after its
  // last, so that at most three picture-sized buffers are ever held and a
  // released block serves the next allocation.
  PlaneBuffer rowPass = planeAllocate(width, height, "main");
  dwtForwardRows(rowPass.rows, source.rows, width, height);
  planeRelease(&source);
  PlaneBuffer result = planeAllocate(width, height, "main");
  dwtForwardColumns(result.rows, rowPass.rows, width, height);
  planeRelease(&rowPass);
  PlaneBuffer flat = planeAllocate(width, height, "main");
  bmpPrint(&bmp);
  bmpFlattenPlane(&bmp, result.rows, flat.block);
  std::fflush(stdout);
  pauseForKey();
  bmpSave(&bmp, kOutputName, flat.block);

  // The rest lives until here; handing it back keeps leak checkers quiet.
  planeRelease(&flat);
  planeRelease(&result);
  return 0;
}

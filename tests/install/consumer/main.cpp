// An outside program built against the installed library: it writes a red
// picture as JPEG, reads it back, and checks that failures arrive as
// IPException. Prints "ok" and exits 0 when everything holds.
#include <kelvo/imaging.h>
#include <kelvo/primitives.h>

#include <cstdio>
#include <string>

using KelvoLibImageProcessing::BitmapData;
using KelvoLibImageProcessing::IPException;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ippStaticInit();
  const std::string path = std::string(argv[1]) + "/red.jpg";

  BitmapData image(16, 8);  // blue, green, red
  for (int i = 0; i < 16 * 8; ++i) {
    image.GetData()[3 * i + 0] = 0;
    image.GetData()[3 * i + 1] = 0;
    image.GetData()[3 * i + 2] = 255;
  }
  image.Save(path.c_str(), KelvoLibImageProcessing::kFileJpg);

  BitmapData loaded(path.c_str());
  const unsigned char* px = loaded.GetData() + 3 * (4 * 16 + 8);
  if (loaded.GetWidth() != 16 || loaded.GetHeight() != 8 || px[2] < 240 || px[0] > 15) {
    std::fprintf(stderr, "round trip gave %dx%d (%d, %d, %d)\n", loaded.GetWidth(),
                 loaded.GetHeight(), px[0], px[1], px[2]);
    return 1;
  }

  try {
    loaded.Load("picture.png");
    std::fprintf(stderr, "an unknown extension was accepted\n");
    return 1;
  } catch (const IPException& e) {
    if (e.GetCode() != 17) {
      std::fprintf(stderr, "unexpected failure: %s\n", e.what());
      return 1;
    }
  }
  std::puts("ok");
  return 0;
}

// kavrel: the live-video viewer. No command-line options: everything it
// needs is in config.txt beside it and in the user's settings.

#include "app/COrvaneApp.h"

int main(int argc, char** argv) {
    kavrel::COrvaneApp app(argc, argv);
    return app.Run();
}

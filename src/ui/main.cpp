#include "ui/jtag_app.h"

int main(int argc, char** argv) { return zorv::ui::JtagApp().run(argc, argv); }

#include "kdlw/app/application.h"

int main(int argc, char** argv) { return kdlw::RunApplication(argc, argv); }

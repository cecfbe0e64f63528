#include "app/application.h"

int main(int argc, char **argv) { return kingyo::runApplication(argc, argv); }

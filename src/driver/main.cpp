// quorvale: robust-design survival rate estimation, a batch console program.
#include "driver/pelmar.h"

int main(int argc, char** argv) { return quorvale::program_main(argc, argv); }

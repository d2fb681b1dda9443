#include "app/presizer_main.h"

int main(int argc, char** argv) { return FinishProcess(RunPresizer(argc, argv)); }

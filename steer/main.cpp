#include "steer.h"

int main() { return steer::run(); }

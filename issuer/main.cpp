#include "issuer.h"

int main() { Issuer(); }

#include "Terminal.h"

int main() {
  initTerm();
  MainController();
  return 0;
}

#include "../common/session.h"

int main(int argc, char** argv) {
  return ConsumerSession("find_package", argc, argv);
}

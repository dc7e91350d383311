#include "../common/session.h"

int main(int argc, char** argv) {
  return ConsumerSession("pkg-config", argc, argv);
}

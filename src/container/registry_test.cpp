#include "container/registry.h"

#include <gtest/gtest.h>

#include <vector>

namespace sm {
namespace {

ErrorCode refuse(SectorDevice** device, const char16_t*, FileHandle, const uint8_t*, uint32_t) {
  *device = nullptr;
  return kErrorBadFormat;
}

TEST(ContainerRegistry, EqualPrioritiesGoBeforeEarlierEntriesAndHeaderSizeOnlyGrows) {
  // Priorities far from the built-in formats' so the entries stay out of the
  // way of every other test in this program (they refuse every file anyway).
  static ContainerFormat a, b, c, d;
  uint32_t const header_before = container_header_size();
  register_container_format(&a, 1000, 16, refuse);
  register_container_format(&b, 1000, 16, refuse);
  register_container_format(&c, 999, 16, refuse);
  register_container_format(&d, 1001, 16, refuse);

  std::vector<ContainerFormat*> order;
  for (ContainerFormat* f = container_formats(); f != nullptr; f = f->next) {
    if (f == &a || f == &b || f == &c || f == &d) order.push_back(f);
  }
  EXPECT_EQ(order, (std::vector<ContainerFormat*>{&c, &b, &a, &d}));
  EXPECT_EQ(b.priority, 1000);
  EXPECT_EQ(b.probe, refuse);
  EXPECT_EQ(container_header_size(), header_before > 16 ? header_before : 16u);

  // The list stays in ascending order of priority as a whole.
  for (ContainerFormat* f = container_formats(); f != nullptr && f->next != nullptr; f = f->next) {
    EXPECT_LE(f->priority, f->next->priority);
  }
}

}  // namespace
}  // namespace sm

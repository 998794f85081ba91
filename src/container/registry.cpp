#include "container/registry.h"

namespace sm {
namespace {

// Filled before the first image is opened and only read afterwards.
ContainerFormat* g_first_format = nullptr;
uint32_t g_header_size = 0;

void insert_format(ContainerFormat* entry, int32_t priority, uint32_t header_size, ProbeFunction probe) {
  entry->priority = priority;
  entry->probe = probe;
  if (header_size > g_header_size) g_header_size = header_size;
  ContainerFormat** link = &g_first_format;
  while (*link != nullptr && (*link)->priority < priority) link = &(*link)->next;
  entry->next = *link;
  *link = entry;
}

}  // namespace

void register_container_format(ContainerFormat* entry, int32_t priority, uint32_t header_size,
                               ProbeFunction probe) {
  insert_format(entry, priority, header_size, probe);
}

ContainerFormat* container_formats() { return g_first_format; }

uint32_t container_header_size() { return g_header_size; }

}  // namespace sm

#include "resolver_context.h"

#include "bonjour_resolver.h"

namespace zeroconf {

resolver_context::resolver_context(std::shared_ptr<bonjour_resolver> resolving)
    : resolver(std::move(resolving)) {}

resolver_context::~resolver_context() {
    resolver->remove_dns_service();
}

} // namespace zeroconf

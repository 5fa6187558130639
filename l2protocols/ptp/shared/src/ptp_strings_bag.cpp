// Copies addresses into the bags' address form and address lists.
#include <cstdlib>
#include <cstring>

#include "ptp_alloc.h"
#include "ptp_strings.h"

void ptp_address_to_bag(const ptp_address_type *address, ptp_bag_address *out)
{
    *out = ptp_bag_address{};
    uint32_t encap = address != nullptr ? address->encap : PTP_ENCAP_UNKNOWN;
    switch (encap) {
    case PTP_ENCAP_ETHERNET:
        out->Encapsulation = PTP_BAG_ENCAP_Ethernet;
        memcpy(out->value.MACAddress.macaddr, address->value, PTP_MAC_ADDR_LEN);
        break;
    case PTP_ENCAP_IPV4:
        out->Encapsulation = PTP_BAG_ENCAP_IPv4;
        memcpy(&out->value.IPv4Address, address->value, PTP_IPV4_ADDR_LEN);
        break;
    case PTP_ENCAP_IPV6:
        out->Encapsulation = PTP_BAG_ENCAP_IPv6;
        memcpy(out->value.IPv6Address.IPv6Address, address->value, PTP_IPV6_ADDR_LEN);
        break;
    default:
        // Any other kind has no arm in the bag union: report it as the unknown arm rather than
        // leave a discriminant that selects nothing.
        out->Encapsulation = PTP_BAG_ENCAP_Unknown;
        out->value.AddressUnknown = 1;
        break;
    }
}

namespace {

template <typename T>
T *list_alloc(uint32_t count, size_t element, const char *what)
{
    if (count == 0)
        return nullptr;
    auto *array = static_cast<T *>(calloc(count, element));
    if (array == nullptr)
        ptp_alloc_failure_report(static_cast<size_t>(count) * element, what);
    return array;
}

} // namespace

void ptp_bag_ipv4_addr_list_fill(const uint32_t *addresses, uint32_t count, ptp_bag_ipv4_addr_list *list)
{
    list->AddrList = {0, nullptr};
    auto *array = list_alloc<uint32_t>(count, sizeof(uint32_t), "PTP bag IPv4 address list");
    if (array == nullptr)
        return;
    memcpy(array, addresses, static_cast<size_t>(count) * sizeof(uint32_t));
    list->AddrList = {count, array};
}

void ptp_bag_ipv6_addr_list_fill(const uint8_t (*addresses)[PTP_IPV6_ADDR_LEN], uint32_t count,
                                 ptp_bag_ipv6_addr_list *list)
{
    list->AddrList = {0, nullptr};
    auto *array = list_alloc<ptp_bag_ipv6_addr>(count, sizeof(ptp_bag_ipv6_addr), "PTP bag IPv6 address list");
    if (array == nullptr)
        return;
    for (uint32_t i = 0; i < count; ++i)
        memcpy(array[i].addr, addresses[i], PTP_IPV6_ADDR_LEN);
    list->AddrList = {count, array};
}

#include "protocol/tcp_protocol.hpp"

#include <cstring>

namespace VELKOR {

_TCP_PROTOCOL_T& _TCP_PROTOCOL_T::operator=(const _TCP_PROTOCOL_T& other)
{
    if (this != &other) {
        std::memcpy(this, &other, sizeof(_TCP_PROTOCOL_T));
    }
    return *this;
}

_TCP_PROTOCOL_T& _TCP_PROTOCOL_T::operator=(_TCP_PROTOCOL_T&& other) noexcept
{
    if (this != &other) {
        length = other.length;
        main_command = other.main_command;
        sub_command = other.sub_command;
        std::memcpy(payload, other.payload, sizeof(payload));
    }
    return *this;
}

}  // namespace VELKOR

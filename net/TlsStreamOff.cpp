#include "net/FetchError.h"
#include "net/SocketStream.h"
#include "net/TlsStream.h"

namespace vantrel {

bool TlsStream::supported() {
    return false;
}

std::shared_ptr<TlsStream::Context> TlsStream::makeContext(const std::string&) {
    return nullptr;
}

std::unique_ptr<ByteStream> TlsStream::open(const std::shared_ptr<Context>&, std::unique_ptr<SocketStream>,
                                            const std::string&, int) {
    throw FetchError(FetchErrorKind::TlsUnavailable);
}

}  // namespace vantrel

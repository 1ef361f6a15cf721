#include "platform/QpdfInput.h"

#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <exception>
#include <set>
#include <vector>

namespace plat {

namespace {

// Encryption whose string and stream filters are both Identity leaves every
// page readable; the key is then only needed by embedded files.
bool EncryptsAttachmentsOnly(QPDFObjectHandle encrypt) {
    if (!encrypt.isDictionary()) return false;
    QPDFObjectHandle version = encrypt.getKey("/V");
    if (!version.isInteger() || version.getIntValue() < 4) return false;
    for (const char* key : {"/StmF", "/StrF"}) {
        QPDFObjectHandle filter = encrypt.getKey(key);
        if (!filter.isNull() && !filter.isNameAndEquals("/Identity")) return false;
    }
    return true;
}

// Walks /Pages and /Kids without recursion. A kid that is one of its own
// ancestors is removed from that /Kids array (qpdf would loop). An inner node
// already walked through another parent is walked again, as renderers do, by
// a copy of it with /Kids of its own (qpdf copies the pages listed twice):
// while the walk has visited fewer than kMaxPdfPageTreeVisits kids; beyond
// that such nodes are removed, so that nodes shared at every level cannot
// make an exponential tree. False when the tree is too deep.
bool MendPageTree(QPDF& pdf) {
    QPDFObjectHandle root = pdf.getRoot().getKey("/Pages");
    if (!root.isDictionary()) return true;
    struct Frame {
        QPDFObjectHandle node;
        int next = 0;
    };
    std::vector<Frame> path{{root}};
    std::set<QPDFObjGen> onPath, walked;
    if (root.isIndirect()) {
        onPath.insert(root.getObjGen());
        walked.insert(root.getObjGen());
    }
    std::size_t visits = 0;
    while (!path.empty()) {
        Frame& frame = path.back();
        QPDFObjectHandle kids = frame.node.getKey("/Kids");
        if (!kids.isArray() || frame.next >= kids.getArrayNItems()) {
            if (frame.node.isIndirect()) onPath.erase(frame.node.getObjGen());
            path.pop_back();
            continue;
        }
        QPDFObjectHandle kid = kids.getArrayItem(frame.next);
        const bool inner = kid.isDictionary() && kid.hasKey("/Kids");
        if (kid.isIndirect() && onPath.count(kid.getObjGen()) != 0) {
            kids.eraseItem(frame.next);
            continue;
        }
        if (inner && kid.isIndirect() && walked.count(kid.getObjGen()) != 0) {
            if (visits >= kMaxPdfPageTreeVisits || !kid.getKey("/Kids").isArray()) {
                kids.eraseItem(frame.next);
                continue;
            }
            QPDFObjectHandle copy = pdf.makeIndirectObject(kid.shallowCopy());
            copy.replaceKey("/Kids", QPDFObjectHandle::newArray(kid.getKey("/Kids").getArrayAsVector()));
            copy.replaceKey("/Parent", frame.node);
            kids.setArrayItem(frame.next, copy);
            kid = copy;
        }
        ++visits;
        ++frame.next;
        if (!inner) continue;
        if (path.size() >= kMaxPdfPageTreeDepth) return false;
        if (kid.isIndirect()) {
            onPath.insert(kid.getObjGen());
            walked.insert(kid.getObjGen());
        }
        path.push_back({kid});
    }
    return true;
}

std::unique_ptr<QPDF> Process(std::span<const char> bytes, const std::string& password, bool asKey) {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->setPasswordIsHexKey(asKey);
    pdf->processMemoryFile("document", bytes.data(), bytes.size(), password.empty() ? nullptr : password.c_str());
    return pdf;
}

}  // namespace

std::unique_ptr<QPDF> OpenQpdf(std::span<const char> bytes, const std::string& password, QpdfOpenStatus* status) {
    const auto report = [status](QpdfOpenStatus value) {
        if (status) *status = value;
    };
    report(QpdfOpenStatus::Unreadable);
    if (bytes.empty()) return nullptr;
    std::unique_ptr<QPDF> pdf;
    try {
        pdf = Process(bytes, password, false);
    } catch (const QPDFExc& e) {
        if (e.getErrorCode() != qpdf_e_password) return nullptr;
        report(QpdfOpenStatus::Locked);
        try {
            // Any key opens the file; it is used for the attachments only,
            // which therefore stay unread.
            pdf = Process(bytes, std::string(64, '0'), true);
            if (!EncryptsAttachmentsOnly(pdf->getTrailer().getKey("/Encrypt"))) return nullptr;
        } catch (const std::exception&) {
            return nullptr;
        }
    } catch (const std::exception&) {
        return nullptr;
    }
    try {
        if (!MendPageTree(*pdf)) {
            report(QpdfOpenStatus::Unreadable);
            return nullptr;
        }
    } catch (const std::exception&) {
        report(QpdfOpenStatus::Unreadable);
        return nullptr;
    }
    report(QpdfOpenStatus::Opened);
    return pdf;
}

bool AttachmentsLocked(QPDF& pdf) {
    try {
        return pdf.isEncrypted() && !pdf.userPasswordMatched() && !pdf.ownerPasswordMatched();
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace plat

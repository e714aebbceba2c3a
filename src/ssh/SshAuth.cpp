// User authentication requests and the choice of the next method.
#include "ssh/SshAuth.h"

#include "ssh/SshError.h"

#include <algorithm>

namespace Varnello::Ssh {

namespace {
constexpr const char* Service = "ssh-connection";
} // namespace

void TSshAuth::Reset() {
    FMethod = -1;
    FAllowed = ~0u;
    FKeyIndex = 0;
    FKeyAlgorithm.clear();
    FKeyBlob.clear();
    FLastFailure.clear();
    FAuthenticated = false;
    FServerSigAlgs.clear();
}

void TSshAuth::Send(const TBytes& payload) {
    if (OnSendPayload) OnSendPayload(payload);
}

void TSshAuth::Start() {
    TSshWriter w;
    w.Byte(MsgServiceRequest).String("ssh-userauth");
    Send(w.Take());
}

TBytes TSshAuth::RequestHead(const std::string& method) const {
    TSshWriter w;
    w.Byte(MsgRequest).String(UserName).String(Service).String(method);
    return w.Take();
}

void TSshAuth::Handle(const TBytes& payload, uint8_t lastSent, const TBytes& sessionId,
                      Crypto::TRandom& rng) {
    if (payload.empty()) return;
    FSessionId = &sessionId;
    FRandom = &rng;
    const uint8_t msg = payload[0];
    if (FAuthenticated) return; // once in, the rest of this range is ignored
    try {
        TSshReader r(payload);
        r.Byte();
        switch (msg) {
        case MsgServiceAccept: {
            if (r.String() != "ssh-userauth" || lastSent != MsgServiceRequest) return;
            FKeyIndex = 0;
            FAllowed = ~0u;
            FMethod = -1;
            Send(RequestHead("none"));
            return;
        }
        case MsgFailure:
            FLastFailure = payload;
            ProcessFailure();
            return;
        case MsgSuccess:
            FAuthenticated = true;
            if (OnSuccess) OnSuccess();
            return;
        case MsgPkOk:
            if (FMethod == atPublicKey) {
                TNvSSHKey* key = KeyStorage ? KeyStorage->GetKey(FKeyIndex - 1) : nullptr;
                if (!key) throw ENvSSHError(200, MsgInternalError);
                const TBytes blob = SignedBlob("publickey");
                TBytes signature;
                if (KeyStorage->SignExternally(FKeyIndex - 1, FKeyAlgorithm, blob.data(), blob.size(),
                                               signature)) {
                    // The storage reported its failure (an agent gone); try the next key.
                    if (signature.empty()) {
                        KeyStep(atPublicKey);
                        return;
                    }
                } else {
                    signature = SignData(*key, FKeyAlgorithm, blob.data(), blob.size(), rng);
                }
                if (signature.empty()) throw ENvSSHError(200, MsgInternalError);
                TSshWriter w;
                w.Raw(RequestHead("publickey"))
                    .Boolean(true)
                    .String(FKeyAlgorithm)
                    .String(FKeyBlob)
                    .String(signature);
                Send(w.Take());
            } else if (FMethod == atKeyboardInteractive) {
                r.String(); // name
                r.String(); // instruction
                r.String(); // language tag
                const uint32_t count = r.Uint32();
                // Each prompt takes at least five bytes, which bounds the count by the message.
                if (count > r.Remaining() / 5) throw ENvSSHException("Invalid size");
                std::vector<std::string> prompts;
                std::vector<bool> echo;
                for (uint32_t i = 0; i < count; ++i) {
                    prompts.push_back(r.String());
                    echo.push_back(r.Boolean());
                }
                std::vector<std::string> responses;
                if (OnKeyboard) OnKeyboard(prompts, echo, responses);
                TSshWriter w;
                w.Byte(MsgInfoResponse).Uint32(count);
                for (uint32_t i = 0; i < count; ++i)
                    w.String(i < responses.size() ? responses[i] : std::string());
                for (std::string& s : responses) WipeString(s);
                TBytes out = w.Take();
                Send(out);
                Crypto::SecureWipe(out.data(), out.size());
            }
            return;
        default:
            return; // banner and the rest of the range
        }
    } catch (const ENvSSHException&) {
        throw ENvSSHError(6, MsgInvalidPacket);
    }
}

void TSshAuth::ProcessFailure() {
    if (FMethod == atPassword || FMethod == atKeyboardInteractive) {
        FAllowed &= ~unsigned(FMethod);
        if (OnFailed) OnFailed(FMethod);
    } else if (FMethod == atPublicKey || FMethod == atHostBased) {
        const int count = KeyStorage ? KeyStorage->Count() : 0;
        if (FKeyIndex > count) FAllowed &= ~unsigned(FMethod);
    }
    TSshReader r(FLastFailure);
    r.Byte();
    const std::string_view offered = r.StringView();
    auto offers = [&](const char* name) { return offered.find(name) != std::string_view::npos; };
    auto usable = [&](int bit, const char* name) {
        return (FAllowed & unsigned(bit)) && (AuthenticationTypes & unsigned(bit)) && offers(name);
    };
    if (usable(atKeyboardInteractive, "keyboard-interactive")) {
        FMethod = atKeyboardInteractive;
        TSshWriter w;
        w.Raw(RequestHead("keyboard-interactive")).String("en-US").String("");
        Send(w.Take());
    } else if (usable(atPassword, "password")) {
        FMethod = atPassword;
        TSshWriter w;
        w.Raw(RequestHead("password")).Boolean(false).String(Password);
        TBytes out = w.Take();
        Send(out);
        Crypto::SecureWipe(out.data(), out.size());
    } else if (usable(atPublicKey, "publickey")) {
        if (FMethod != atPublicKey) FKeyIndex = 0;
        KeyStep(atPublicKey);
    } else if (usable(atHostBased, "hostbased")) {
        if (FMethod != atHostBased) FKeyIndex = 0;
        KeyStep(atHostBased);
    } else {
        throw ENvSSHError(114, MsgNoMoreAuthMethods);
    }
}

std::string TSshAuth::AlgorithmFor(const TNvSSHKey& key) const {
    switch (key.KeyType) {
    case TNvSSHKey::ktRSA:
        if (UseSha2Signatures) {
            auto listed = [&](const char* n) {
                return std::find(FServerSigAlgs.begin(), FServerSigAlgs.end(), n) != FServerSigAlgs.end();
            };
            if (listed("rsa-sha2-512")) return "rsa-sha2-512";
            if (listed("rsa-sha2-256")) return "rsa-sha2-256";
        }
        return "ssh-rsa";
    case TNvSSHKey::ktDSS:
        return "ssh-dss";
    case TNvSSHKey::ktEd25519:
        return "ssh-ed25519";
    default:
        return {};
    }
}

TBytes TSshAuth::SignedBlob(const std::string& method) const {
    TSshWriter w;
    w.String(*FSessionId).Byte(MsgRequest).String(UserName).String(Service).String(method);
    if (method == "publickey") w.Boolean(true);
    w.String(FKeyAlgorithm).String(FKeyBlob);
    if (method == "hostbased") w.String(ClientHostName).String(ClientUserName);
    return w.Take();
}

void TSshAuth::KeyStep(int method) {
    const int count = KeyStorage ? KeyStorage->Count() : 0;
    // Bounded by the storage's count: each turn consumes one index.
    for (;;) {
        FMethod = method;
        const int i = FKeyIndex++;
        if (!KeyStorage || i >= count) {
            if (OnFailed) OnFailed(method);
            ProcessFailure();
            return;
        }
        TNvSSHKey* key = KeyStorage->GetKey(i);
        if (!key) throw ENvSSHError(200, MsgInternalError);
        FKeyAlgorithm = AlgorithmFor(*key);
        const bool canSign = method == atPublicKey ? KeyStorage->CanSign(i) : key->HasPrivate();
        if (FKeyAlgorithm.empty() || !canSign) continue;
        FKeyBlob = PublicKeyBlob(*key);
        if (method == atPublicKey) {
            TSshWriter w;
            w.Raw(RequestHead("publickey")).Boolean(false).String(FKeyAlgorithm).String(FKeyBlob);
            Send(w.Take());
        } else {
            TBytes blob = SignedBlob("hostbased");
            TBytes signature = SignData(*key, FKeyAlgorithm, blob.data(), blob.size(), *FRandom);
            if (signature.empty()) throw ENvSSHError(200, MsgInternalError);
            TSshWriter w;
            w.Raw(RequestHead("hostbased")).String(FKeyAlgorithm).String(FKeyBlob);
            w.String(ClientHostName).String(ClientUserName).String(signature);
            Send(w.Take());
        }
        return;
    }
}

} // namespace Varnello::Ssh

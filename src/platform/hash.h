// Hashes of the platform crypto layer: SHA-1 and SHA-256 behind one small interface.
#pragma once

#include <cstddef>
#include <cstdint>

typedef struct evp_md_ctx_st EVP_MD_CTX;

class Hash {
  public:
    virtual ~Hash();
    virtual void update(const uint8_t* bytes, size_t count) = 0;
    // Writes the digest of every byte given since creation or the last finish into out
    // (20 bytes for SHA-1, 32 for SHA-256) and starts the next digest afresh.
    virtual void finish(uint8_t out[32]) = 0;
};

class EvpHash : public Hash {
  public:
    EvpHash(const EvpHash&) = delete;
    EvpHash& operator=(const EvpHash&) = delete;
    ~EvpHash() override;
    void update(const uint8_t* bytes, size_t count) override;
    void finish(uint8_t out[32]) override;

  protected:
    explicit EvpHash(bool sha256);

  private:
    void restart();
    EVP_MD_CTX* context;
    bool useSha256;
};

class SHA1 : public EvpHash {
  public:
    SHA1() : EvpHash(false) {}
};

class SHA256 : public EvpHash {
  public:
    SHA256() : EvpHash(true) {}
};

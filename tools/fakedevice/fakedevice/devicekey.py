"""The device's RSA public key: clients build pairing certificates from it, so it must be real."""

import subprocess


class DeviceKeyError(Exception):
    pass


def make_public_key_pem(bits=2048):
    """A fresh PKCS#1 'RSA PUBLIC KEY' PEM; the private half only ever lives in a pipe."""
    try:
        private = subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", f"rsa_keygen_bits:{bits}"],
                                 check=True, capture_output=True).stdout
        public = subprocess.run(["openssl", "rsa", "-RSAPublicKey_out"], input=private,
                                check=True, capture_output=True).stdout
    except FileNotFoundError as e:
        raise DeviceKeyError("openssl is not installed; it makes the device key") from e
    except subprocess.CalledProcessError as e:
        raise DeviceKeyError(f"openssl failed: {e.stderr.decode(errors='replace').strip()}") from e
    if b"BEGIN RSA PUBLIC KEY" not in public:
        raise DeviceKeyError("openssl did not write an RSA PUBLIC KEY")
    return public
